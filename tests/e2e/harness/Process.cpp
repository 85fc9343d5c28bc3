#include "Process.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace brimlow::e2e {
namespace {

constexpr auto terminateGrace = 3s;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Descriptors above the ones handed to children, so a dup2 onto a child's number always
// clears close-on-exec.
int cloexecAbove(int fd, int minimum) {
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, minimum);
    if (moved < 0) {
        throwErrno("fcntl");
    }
    close(fd);
    return moved;
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throwErrno("pipe2");
        }
        read = cloexecAbove(fds[0], 10);
        write = cloexecAbove(fds[1], 10);
    }
};

class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&attr_);
        posix_spawn_file_actions_init(&actions_);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT}) {
            sigaddset(&defaults, sig);
        }
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        posix_spawnattr_setpgroup(&attr_, 0);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                             POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    void discardStderr() {
        posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    void hand(int fd, int as) { posix_spawn_file_actions_adddup2(&actions_, fd, as); }
    const posix_spawnattr_t* attr() const { return &attr_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
};

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

struct ProcStat {
    pid_t pid = 0;
    std::string comm;
    char state = '?';
    pid_t ppid = 0;
};

std::optional<ProcStat> readProcStat(const std::filesystem::path& dir) {
    std::ifstream in(dir / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto open = text.find('(');
    auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::nullopt;
    }
    ProcStat stat;
    stat.pid = std::atoi(text.c_str());
    stat.comm = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 1));
    rest >> stat.state >> stat.ppid;
    return stat;
}

std::vector<ProcStat> childrenOfThisProcess() {
    std::vector<ProcStat> found;
    const pid_t self = getpid();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        auto stat = readProcStat(entry.path());
        if (stat && stat->ppid == self) {
            found.push_back(*stat);
        }
    }
    return found;
}

} // namespace

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brimlow-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throwErrno("mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::subdir(const std::string& name) const {
    auto dir = path_ / name;
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    return dir;
}

Environment Environment::inherited() {
    Environment env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        if (eq != std::string::npos) {
            env.vars_[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    return env;
}

std::vector<std::string> Environment::entries() const {
    std::vector<std::string> out;
    for (const auto& [name, value] : vars_) {
        out.push_back(name + "=" + value);
    }
    return out;
}

Child::Child(const SpawnOptions& options) {
    if (options.argv.empty()) {
        throw std::invalid_argument("nothing to start");
    }
    SpawnAttributes spawn;
    std::optional<Pipe> output;
    std::optional<Pipe> handshake;
    if (options.captureStdout) {
        output.emplace();
        spawn.hand(output->write, STDOUT_FILENO);
        if (options.stderrToStdout) {
            spawn.hand(output->write, STDERR_FILENO);
        }
    }
    if (options.handshakeFd) {
        handshake.emplace();
        spawn.hand(handshake->write, *options.handshakeFd);
    }
    if (options.discardStderr) {
        spawn.discardStderr();
    }
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> envp = options.env.entries();
    struct stat stream {};
    if (output && options.stdoutIsJournal && fstat(output->write, &stream) == 0) {
        std::erase_if(
            envp, [](const std::string& entry) { return entry.starts_with("JOURNAL_STREAM="); });
        envp.push_back("JOURNAL_STREAM=" + std::to_string(stream.st_dev) + ":" +
                       std::to_string(stream.st_ino));
    }
    auto argPointers = cStrings(argv);
    auto envPointers = cStrings(envp);

    startedAt_ = Clock::now();
    int error = posix_spawnp(&pid_, argv[0].c_str(), spawn.actions(), spawn.attr(),
                             argPointers.data(), envPointers.data());
    if (output) {
        close(output->write);
    }
    if (handshake) {
        close(handshake->write);
    }
    if (error != 0) {
        if (output) {
            close(output->read);
        }
        if (handshake) {
            close(handshake->read);
        }
        errno = error;
        throwErrno("posix_spawnp " + argv[0]);
    }
    if (handshake) {
        handshakeFd_ = handshake->read;
    }
    if (output) {
        reader_ = std::thread([this, fd = output->read] { readOutput(fd); });
    }
}

Child::~Child() {
    stop();
    if (handshakeFd_ >= 0) {
        close(handshakeFd_);
    }
}

std::optional<std::string> Child::readHandshake(Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (handshakeFd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd pfd{handshakeFd_, POLLIN, 0};
        if (poll(&pfd, 1, int(left.count())) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t n = read(handshakeFd_, buffer, sizeof buffer);
        if (n <= 0) {
            return std::nullopt;
        }
        text.append(buffer, std::size_t(n));
        if (auto nl = text.find('\n'); nl != std::string::npos) {
            return text.substr(0, nl);
        }
    }
    return std::nullopt;
}

void Child::readOutput(int fd) {
    std::string pending;
    while (!stopReading_) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            outputEnded_ = true;
            break;
        }
        const auto now = Clock::now();
        pending.append(buffer, std::size_t(n));
        std::lock_guard lock(mutex_);
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            lines_.push_back({now, pending.substr(0, nl)});
            pending.erase(0, nl + 1);
        }
    }
    close(fd);
}

bool Child::reap(int options) {
    if (exitStatus_) {
        return true;
    }
    int status = 0;
    pid_t r = waitpid(pid_, &status, options);
    if (r != pid_) {
        return false;
    }
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

std::optional<int> Child::waitForExit(Clock::duration timeout) {
    pollUntil(
        Clock::now() + timeout, [this] { return reap(WNOHANG); }, 10ms);
    return exitStatus_;
}

bool Child::waitForOutputEnd(Clock::duration timeout) {
    return pollUntil(
        Clock::now() + timeout, [this] { return outputEnded_.load(); }, 10ms);
}

bool Child::running() {
    return !reap(WNOHANG);
}

std::vector<OutputLine> Child::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string transcriptOf(const Child& child) {
    std::string text;
    for (const auto& line : child.lines()) {
        text += "\n  " + line.text;
    }
    return text.empty() ? " (nothing)" : text;
}

void Child::stop() {
    if (pid_ > 0 && !reap(WNOHANG)) {
        kill(-pid_, SIGTERM);
        if (!waitForExit(terminateGrace)) {
            kill(-pid_, SIGKILL);
            reap(0);
        }
    }
    // Whatever the group leader left behind in its group goes with it.
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
    }
    stopReading_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
}

void becomeSubreaper() {
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

std::vector<pid_t> leftoverChildren(const std::vector<pid_t>& known) {
    std::vector<pid_t> left;
    for (const auto& child : childrenOfThisProcess()) {
        if (std::find(known.begin(), known.end(), child.pid) != known.end()) {
            continue;
        }
        if (child.state == 'Z') {
            waitpid(child.pid, nullptr, WNOHANG);
            continue;
        }
        left.push_back(child.pid);
    }
    return left;
}

std::vector<std::string> collectLeftoverChildren(Clock::duration timeout) {
    // /proc is not read in one instant: a helper handed to this process while its children are
    // read (the documents portal's fusermount3 daemonizes, and its parent ends) can be missed by
    // one look, so the wait ends only once two looks in a row find none.
    int emptyLooks = 0;
    pollUntil(
        Clock::now() + timeout,
        [&] {
            emptyLooks = leftoverChildren().empty() ? emptyLooks + 1 : 0;
            return emptyLooks == 2;
        },
        50ms);
    std::vector<std::string> names;
    for (const auto& child : childrenOfThisProcess()) {
        if (child.state != 'Z') {
            names.push_back(child.comm + " (" + std::to_string(child.pid) + ")");
            kill(child.pid, SIGKILL);
        }
        waitpid(child.pid, nullptr, 0);
    }
    return names;
}

std::vector<pid_t> processesRunning(const std::filesystem::path& path) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const auto name = entry.path().filename().string();
        std::error_code unreadable;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            std::filesystem::read_symlink(entry.path() / "exe", unreadable) == path) {
            found.push_back(std::atoi(name.c_str()));
        }
    }
    return found;
}

std::optional<std::filesystem::path> findProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        auto candidate = std::filesystem::path(dir) / program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace brimlow::e2e
