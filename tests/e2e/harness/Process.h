#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace brimlow::e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsBetween(Clock::time_point from, Clock::time_point to);

// A directory of its own under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // A subdirectory, made on first use, readable by the owner alone (as XDG_RUNTIME_DIR must be).
    std::filesystem::path subdir(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// The environment a child gets: this process's own, with changes.
class Environment {
public:
    static Environment inherited();
    void set(const std::string& name, const std::string& value) { vars_[name] = value; }
    void unset(const std::string& name) { vars_.erase(name); }
    std::vector<std::string> entries() const;

private:
    std::map<std::string, std::string> vars_;
};

struct OutputLine {
    Clock::time_point at;
    std::string text;
};

struct SpawnOptions {
    std::vector<std::string> argv;
    Environment env = Environment::inherited();
    // Each line the child writes on standard output is kept with the moment it arrived.
    bool captureStdout = false;
    // With captureStdout: standard error goes there too, in order with it (a log, a client's
    // complaints).
    bool stderrToStdout = false;
    // The write end of a pipe is handed to the child as this descriptor (Xvfb's -displayfd,
    // dbus-daemon's --print-address); readHandshake() reads what it writes there.
    std::optional<int> handshakeFd;
    // For servers whose chatter (Xvfb probing display numbers, dbus-daemon's fd limit) would
    // only bury the test's own messages; they are checked through the handshake instead.
    bool discardStderr = false;
    // The captured standard output is announced as the systemd journal: JOURNAL_STREAM names
    // its device and inode, as systemd does for the streams it hands to the programs it starts.
    bool stdoutIsJournal = false;
};

// A child process in a process group of its own. Destroying it ends the whole group (SIGTERM,
// then SIGKILL) and reaps the child, so nothing it started outlives the test.
class Child {
public:
    explicit Child(const SpawnOptions& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    Clock::time_point startedAt() const { return startedAt_; }

    // The first line written on the handshake descriptor; nothing if none came in time or the
    // child closed it first.
    std::optional<std::string> readHandshake(Clock::duration timeout);

    // The exit status once the child has exited by itself, or nothing if it still runs after
    // `timeout`. A child killed by a signal reports 128 + the signal number.
    std::optional<int> waitForExit(Clock::duration timeout);
    bool running();

    // Every line so far, each with the moment it arrived.
    std::vector<OutputLine> lines() const;

    // True once every line written has been read: the child and whatever inherited its output
    // have closed it. An exited child's last lines may still be in the pipe until then.
    bool waitForOutputEnd(Clock::duration timeout);

    // Ends the process group and reaps the child; safe to call more than once.
    void stop();

private:
    void readOutput(int fd);
    bool reap(int options);

    pid_t pid_ = -1;
    Clock::time_point startedAt_;
    std::optional<int> exitStatus_;
    int handshakeFd_ = -1;
    std::atomic<bool> stopReading_{false};
    std::atomic<bool> outputEnded_{false};
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<OutputLine> lines_;
};

// What `child` printed so far, a line each, indented under a failure message; " (nothing)" if
// it printed nothing.
std::string transcriptOf(const Child& child);

// Makes this process the reaper of every process its children leave behind, so a daemon that
// a child spawned (and that outlives it) still shows up in leftoverChildren().
void becomeSubreaper();

// Processes whose parent is this one, other than the ones listed, after reaping those that
// have already exited.
std::vector<pid_t> leftoverChildren(const std::vector<pid_t>& known = {});

// How long what a test started may take to end once the test is over. The desktop's services end
// with their bus, and their helpers after them: the documents portal's fusermount3 unmounts its
// file system once the portal is gone, which on a loaded machine under the sanitizers has taken
// longer than 5 s.
constexpr auto leftoverGrace = 15s;

// Waits up to `timeout` for the leftovers to exit, then kills and reaps any that remain and
// returns their command names, so a test can fail on them.
std::vector<std::string> collectLeftoverChildren(Clock::duration timeout);

// Polls `condition` every `interval` until it holds or the deadline passes.
template <typename Condition>
bool pollUntil(Clock::time_point deadline, Condition condition, Clock::duration interval = 20ms) {
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
}

// The ids of the user's processes that run the executable at `path`.
std::vector<pid_t> processesRunning(const std::filesystem::path& path);

// Looks `program` up on PATH.
std::optional<std::filesystem::path> findProgram(const std::string& program);

} // namespace brimlow::e2e
