#include "DetachedLaunch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

// Between fork and exec only async-signal-safe calls: another thread may hold any lock.
[[noreturn]] void execute(const char* path, int reportFd) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &defaults, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int input = open("/dev/null", O_RDONLY);
    if (input < 0 || dup2(input, STDIN_FILENO) < 0) {
        int error = errno;
        [[maybe_unused]] auto reported = write(reportFd, &error, sizeof error);
        _exit(127);
    }
    if (input != STDIN_FILENO) {
        close(input);
    }
    // The report pipe is among them: a successful exec closes it, which tells the caller.
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    char* const arguments[] = {const_cast<char*>(path), nullptr};
    execve(path, arguments, environ);
    int error = errno;
    [[maybe_unused]] auto reported = write(reportFd, &error, sizeof error);
    _exit(127);
}

} // namespace

int launchDetached(const std::string& path) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    // The intermediate process starts a session and the program, then ends at once: the program
    // is handed to the system's reaper and never becomes our zombie.
    const pid_t intermediate = fork();
    if (intermediate < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        return error;
    }
    if (intermediate == 0) {
        setsid();
        pid_t program = fork();
        if (program == 0) {
            execute(path.c_str(), report[1]);
        }
        if (program < 0) {
            int error = errno;
            [[maybe_unused]] auto reported = write(report[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(report[1]);
    while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t length;
    while ((length = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return length == sizeof error ? error : 0;
}

} // namespace brimlow::platform::linuxdesktop
