#!/usr/bin/env python3
"""HTTPS server for the HTTP client's tests and the program's end-to-end tests.

Makes two certificate authorities with openssl in a scratch directory: the test trusts the
first (its certificate file is announced), never the second. Serves on 127.0.0.1 on two free
ports, the first with a certificate from the trusted authority, the second with one from the
other. Prints "ready TRUSTED_PORT UNTRUSTED_PORT CA_FILE" once it accepts connections, and runs
until it is killed or its standard input closes, so it cannot outlive the test that started it.

With --record FILE, the method and target of every request it reads are appended to FILE, one
line each, as they arrive; with --page PATH BODY, PATH is answered with BODY.
"""

import argparse
import http.server
import os
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1024 * 1024


def run(*command, stdin=None):
    subprocess.run(command, check=True, input=stdin, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE)


def make_authority(openssl, directory, name):
    key = os.path.join(directory, name + "-ca.key")
    cert = os.path.join(directory, name + "-ca.pem")
    run(openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=Brimlow test " + name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, cert


def make_server_certificate(openssl, directory, name, authority):
    ca_key, ca_cert = authority
    key = os.path.join(directory, name + ".key")
    request = os.path.join(directory, name + ".csr")
    cert = os.path.join(directory, name + ".pem")
    extensions = os.path.join(directory, name + ".ext")
    with open(extensions, "w") as file:
        # For 127.0.0.1 only, so that asking for "localhost" fails the name check.
        file.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                   "extendedKeyUsage=serverAuth\n")
    run(openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
        "-keyout", key, "-out", request, "-subj", "/CN=127.0.0.1")
    run(openssl, "x509", "-req", "-in", request, "-CA", ca_cert, "-CAkey", ca_key,
        "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", cert)
    return cert, key


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def echo(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        lines = ["method " + self.command, "target " + self.path]
        lines += ["header %s: %s" % (name, value) for name, value in self.headers.items()]
        lines.append("body " + body.hex())
        self.reply(200, "\n".join(lines).encode("ascii"))

    def do_POST(self):
        self.server.record(self)
        self.echo()

    def do_GET(self):
        self.server.record(self)
        path = self.path.split("?")[0]
        if path in self.server.pages:
            self.reply(200, self.server.pages[path])
        elif path == "/echo":
            self.echo()
        elif path == "/status/404":
            self.reply(404, b"no such page")
        elif path == "/empty":
            self.reply(200, b"")
        elif path == "/latin1":
            self.reply(200, "caf\u00e9".encode("latin-1"))
        elif path == "/size":
            self.reply(200, b"a" * int(self.path.split("?")[1]))
        elif path == "/redirect":
            self.reply(302, b"", [("Location", "/echo?redirected")])
        elif path == "/configapp/brimlow.php":
            self.reply(200, self.server.config_reply)
        elif path == "/silent":
            time.sleep(120)
        elif path == "/trickle":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.flush()
            for _ in range(100):
                time.sleep(3)
                self.wfile.write(b"x")
                self.wfile.flush()
        else:
            self.reply(404, b"unknown test page")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, context, config_reply, recorder, pages):
        super().__init__(("127.0.0.1", 0), Handler)
        self.context = context
        self.config_reply = config_reply
        self.recorder = recorder
        self.pages = pages

    def record(self, handler):
        if self.recorder is not None:
            self.recorder.write(handler.command + " " + handler.path)

    # The handshake runs on the request's own thread, so a client that stalls in it holds up
    # no other.
    def finish_request(self, request, client_address):
        try:
            secured = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        self.RequestHandlerClass(secured, client_address, self)

    def handle_error(self, request, client_address):
        pass


class Recorder:
    """Appends lines to a file from any thread, each written out whole before the next."""

    def __init__(self, path):
        self.lock = threading.Lock()
        self.file = open(path, "a", encoding="utf-8")

    def write(self, line):
        with self.lock:
            self.file.write(line + "\n")
            self.file.flush()


def serve(certificate, config_reply, recorder=None, pages=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*certificate)
    server = Server(context, config_reply, recorder, pages or {})
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--openssl", default="openssl")
    parser.add_argument("--config-tool", required=True, help="brimlow-config")
    parser.add_argument("--config", default="config\nno\n1.1\n2.1",
                        help="the configuration /configapp/brimlow.php serves, encoded")
    parser.add_argument("--record", help="a file to append each request's method and target to")
    parser.add_argument("--page", nargs=2, action="append", default=[], metavar=("PATH", "BODY"),
                        help="answer PATH with BODY")
    arguments = parser.parse_args()
    recorder = Recorder(arguments.record) if arguments.record else None
    pages = {path: body.encode() for path, body in arguments.page}
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    directory = tempfile.mkdtemp(prefix="brimlow-https-")
    try:
        encoded = subprocess.run([arguments.config_tool, "encode"],
                                 input=arguments.config.encode(), check=True,
                                 stdout=subprocess.PIPE)
        trusted = make_authority(arguments.openssl, directory, "trusted")
        untrusted = make_authority(arguments.openssl, directory, "untrusted")
        trusted_port = serve(make_server_certificate(arguments.openssl, directory, "server",
                                                     trusted), encoded.stdout, recorder, pages)
        untrusted_port = serve(make_server_certificate(arguments.openssl, directory, "rogue",
                                                       untrusted), encoded.stdout, recorder, pages)
        print("ready", trusted_port, untrusted_port, trusted[1], flush=True)
        sys.stdin.read()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
