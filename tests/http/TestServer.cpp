#include "TestServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brimlow::testing {

int closedLoopbackPort() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no loopback port to close");
    }
    close(s);
    return ntohs(address.sin_port);
}
namespace {

// Reads one line, waiting at most `seconds` in all.
std::string readLine(int fd, int seconds) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) {
            continue;
        }
        char c;
        if (read(fd, &c, 1) != 1 || c == '\n') {
            break;
        }
        line += c;
    }
    return line;
}

} // namespace

TestServer::TestServer(const std::vector<std::string>& extraArguments) {
    std::vector<std::string> arguments{BRIMLOW_PYTHON,  BRIMLOW_HTTPS_SERVER, "--openssl",
                                       BRIMLOW_OPENSSL, "--config-tool",      BRIMLOW_CONFIG_TOOL};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int toServer[2];
    int fromServer[2];
    if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) {
        error = "no pipe for the server";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
    int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toServer[0]);
    close(fromServer[1]);
    input_ = toServer[1];
    if (spawned != 0) {
        pid_ = -1;
        close(fromServer[0]);
        error = "the server could not be started";
        return;
    }
    std::string line = readLine(fromServer[0], 60);
    close(fromServer[0]);
    std::istringstream words(line);
    std::string ready;
    words >> ready >> trustedPort >> untrustedPort >> caFile;
    if (ready != "ready" || caFile.empty()) {
        error = "the server did not come up: \"" + line + "\"";
    }
}

TestServer::~TestServer() {
    if (input_ >= 0) {
        close(input_);
    }
    if (pid_ <= 0) {
        return;
    }
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

} // namespace brimlow::testing
