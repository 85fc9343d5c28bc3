#pragma once

#include "platform/sim/SimDesktop.h"

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow::testing {

// Lines the code under test printed.
using RecordingConsole = platform::sim::SimConsole;

// A fresh directory, removed with everything in it at the end.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A child process, ended (SIGTERM, then waited for) with the object.
class ChildProcess {
public:
    // `environment` entries NAME=value are added to this process's environment. When
    // `announceFd` is set, the child gets a pipe as that descriptor and `announcement()` returns
    // the first line it writes there.
    ChildProcess(std::vector<std::string> arguments, std::vector<std::string> environment = {},
                 int announceFd = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& announcement() const { return announcement_; }

private:
    pid_t pid_ = -1;
    std::string announcement_;
};

// An Xvfb of the test's own on a free display, so tests never touch the pointer or the root
// window of the display other tests share. `extraArguments` such as {"-extension", "XTEST"}
// take extensions away.
class PrivateXServer {
public:
    explicit PrivateXServer(std::vector<std::string> extraArguments = {});
    const std::string& name() const { return name_; }
    pid_t pid() const { return server_.pid(); }

private:
    ChildProcess server_;
    std::string name_;
};

// An Xvfb of the test process's own, made its DISPLAY for the whole process: a QApplication on
// the xcb platform connects once per process.
void usePrivateXDisplay();

// A dbus-daemon of the test process's own, made the session bus for the whole process: Qt
// connects to the session bus once per process, so there is one such bus per process. It
// starts no services on demand.
void usePrivateSessionBus();

// The QApplication of the test process, made on first use with the platform that
// QT_QPA_PLATFORM names.
void ensureQtApplication();

// Runs the Qt event loop until `done` answers true or `limit` passes; returns `done()`.
bool runEventsUntil(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(5));

// Runs the Qt event loop for `duration`.
void runEventsFor(std::chrono::milliseconds duration);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

} // namespace brimlow::testing
