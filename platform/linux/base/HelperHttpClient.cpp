#include "HelperHttpClient.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace brimlow::platform::linuxdesktop {
namespace {

constexpr int abortPollMs = 100;

void appendField(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += '\n';
    out += text;
}

class FieldReader {
public:
    explicit FieldReader(std::string_view text) : rest_(text) {}

    std::optional<std::string> next() {
        const std::size_t lineEnd = rest_.find('\n');
        std::size_t size = 0;
        if (lineEnd == std::string_view::npos || lineEnd == 0) {
            return std::nullopt;
        }
        auto [end, error] = std::from_chars(rest_.data(), rest_.data() + lineEnd, size);
        if (error != std::errc() || end != rest_.data() + lineEnd ||
            size > rest_.size() - lineEnd - 1) {
            return std::nullopt;
        }
        std::string field(rest_.substr(lineEnd + 1, size));
        rest_.remove_prefix(lineEnd + 1 + size);
        return field;
    }
    bool atEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

HttpOutcome failure(std::string description) {
    return {std::move(description), std::nullopt};
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool open() const { return read >= 0; }
    void closeRead() {
        if (read >= 0) {
            close(read);
            read = -1;
        }
    }
    void closeWrite() {
        if (write >= 0) {
            close(write);
            write = -1;
        }
    }
};

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data.remove_prefix(std::size_t(written));
    }
    return true;
}

// Everything the helper writes, until it closes its end; nothing once the client is going,
// when the helper is ended instead.
std::optional<std::string> readUntilClosed(int fd, pid_t helper,
                                           const std::atomic<bool>& aborting) {
    std::string output;
    char buffer[4096];
    for (;;) {
        if (aborting) {
            kill(helper, SIGKILL);
            return std::nullopt;
        }
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, abortPollMs) <= 0) {
            continue;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return output;
        }
        output.append(buffer, std::size_t(got));
    }
}

int waitForExit(pid_t helper) {
    int status = 0;
    while (waitpid(helper, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string howItEnded(int status) {
    if (WIFSIGNALED(status)) {
        return "was ended by signal " + std::to_string(WTERMSIG(status));
    }
    return "ended with status " + std::to_string(WEXITSTATUS(status)) + " and no answer";
}

HttpOutcome runHelper(const std::string& helper, std::vector<std::string> environment,
                      const std::string& input, const std::atomic<bool>& aborting) {
    Pipe toHelper;
    Pipe fromHelper;
    if (!toHelper.open() || !fromHelper.open()) {
        return failure(std::string("The HTTP helper cannot be started: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHelper.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHelper.write, STDOUT_FILENO);
    std::string program = helper;
    char* argv[] = {program.data(), nullptr};
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    toHelper.closeRead();
    fromHelper.closeWrite();
    if (spawned != 0) {
        return failure("The HTTP helper " + helper +
                       " cannot be started: " + std::strerror(spawned));
    }
    // A helper that died before reading makes the write fail; how it ended says why.
    writeAll(toHelper.write, input);
    toHelper.closeWrite();
    std::optional<std::string> output = readUntilClosed(fromHelper.read, pid, aborting);
    const int status = waitForExit(pid);
    std::optional<HttpOutcome> outcome =
        output ? decodedOutcome(*output) : std::optional<HttpOutcome>();
    if (!outcome) {
        return failure("The HTTP helper " + howItEnded(status));
    }
    return *outcome;
}

} // namespace

HelperHttpClient::HelperHttpClient(std::string helper) : helper_(std::move(helper)) {}

HelperHttpClient::~HelperHttpClient() {
    {
        std::lock_guard lock(completionMutex_);
        closed_ = true;
    }
    aborting_ = true;
    std::lock_guard lock(workersMutex_);
    for (Worker& worker : workers_) {
        worker.thread.join();
    }
}

void HelperHttpClient::send(HttpRequest request, Completion completed) {
    std::lock_guard lock(workersMutex_);
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.finished) {
            return false;
        }
        worker.thread.join();
        return true;
    });
    // Read as the request is made, not on the worker, which would race with the program
    // changing its environment.
    const char* bundle = std::getenv("SSL_CERT_FILE");
    std::string input = encodedRequest(request, bundle != nullptr ? bundle : "");
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    Worker& worker = workers_.emplace_back();
    worker.thread =
        std::thread([this, &worker, input = std::move(input), environment = std::move(environment),
                     completed = std::move(completed)]() mutable {
            // A helper gone before it read its request must not end the program with SIGPIPE.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            HttpOutcome outcome = runHelper(helper_, std::move(environment), input, aborting_);
            {
                std::lock_guard completing(completionMutex_);
                if (!closed_) {
                    completed(std::move(outcome));
                }
            }
            worker.finished = true;
        });
}

std::string encodedRequest(const HttpRequest& request, const std::string& extraBundle) {
    std::string out;
    for (std::string_view field : {std::string_view(request.url), std::string_view(request.method),
                                   std::string_view(request.body), std::string_view(extraBundle)}) {
        appendField(out, field);
    }
    appendField(out, std::to_string(request.headers.size()));
    for (const auto& [name, value] : request.headers) {
        appendField(out, name);
        appendField(out, value);
    }
    return out;
}

std::optional<std::pair<HttpRequest, std::string>> decodedRequest(std::string_view text) {
    FieldReader reader(text);
    HttpRequest request;
    auto url = reader.next();
    auto method = reader.next();
    auto body = reader.next();
    auto extraBundle = reader.next();
    auto count = reader.next();
    std::size_t headers = 0;
    if (!count ||
        std::from_chars(count->data(), count->data() + count->size(), headers).ec != std::errc()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < headers; ++i) {
        auto name = reader.next();
        auto value = reader.next();
        if (!name || !value) {
            return std::nullopt;
        }
        request.headers.emplace_back(std::move(*name), std::move(*value));
    }
    if (!url || !method || !body || !extraBundle || !reader.atEnd()) {
        return std::nullopt;
    }
    request.url = std::move(*url);
    request.method = std::move(*method);
    request.body = std::move(*body);
    return std::pair(std::move(request), std::move(*extraBundle));
}

std::string encodedOutcome(const HttpOutcome& outcome) {
    std::string out;
    appendField(out, outcome.error ? "error" : "body");
    appendField(out, outcome.error ? *outcome.error : outcome.body.value_or(""));
    return out;
}

std::optional<HttpOutcome> decodedOutcome(std::string_view text) {
    FieldReader reader(text);
    auto kind = reader.next();
    auto value = reader.next();
    if (!kind || !value || !reader.atEnd() || (*kind != "error" && *kind != "body")) {
        return std::nullopt;
    }
    if (*kind == "error") {
        return HttpOutcome{std::move(*value), std::nullopt};
    }
    return HttpOutcome{std::nullopt, std::move(*value)};
}

} // namespace brimlow::platform::linuxdesktop
