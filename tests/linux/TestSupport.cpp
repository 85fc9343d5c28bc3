#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brimlow::testing {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brimlow-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        had_ = true;
        old_ = old;
    }
    if (value != nullptr) {
        setenv(name_.c_str(), value, 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ChildProcess::ChildProcess(std::vector<std::string> arguments, std::vector<std::string> environment,
                           int announceFd) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        variables.emplace_back(*entry);
    }
    for (auto& added : environment) {
        std::string name = added.substr(0, added.find('='));
        std::erase_if(variables, [&](const std::string& v) { return v.starts_with(name + "="); });
        variables.push_back(std::move(added));
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (announceFd >= 0) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], announceFd);
    }
    int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (announceFd >= 0) {
        close(pipeFds[1]);
    }
    if (failed != 0) {
        if (announceFd >= 0) {
            close(pipeFds[0]);
        }
        throw std::runtime_error("cannot start " + arguments.front());
    }
    if (announceFd < 0) {
        return;
    }
    // The first line, within ten seconds.
    pollfd readable{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (poll(&readable, 1, 10000) == 1 && read(pipeFds[0], &c, 1) == 1 && c != '\n') {
        announcement_ += c;
    }
    close(pipeFds[0]);
    if (announcement_.empty()) {
        throw std::runtime_error(arguments.front() + " did not announce itself");
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

namespace {

std::vector<std::string> xvfbArguments(std::vector<std::string> extra) {
    std::vector<std::string> arguments{"Xvfb", "-displayfd",  "3",         "-screen",
                                       "0",    "1024x768x24", "-nolisten", "tcp"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

} // namespace

PrivateXServer::PrivateXServer(std::vector<std::string> extraArguments)
    : server_(xvfbArguments(std::move(extraArguments)), {}, 3),
      name_(":" + server_.announcement()) {}

void usePrivateXDisplay() {
    // Ended at exit, with the static: it must not outlive the test process.
    static std::unique_ptr<PrivateXServer> server;
    if (server) {
        return;
    }
    server = std::make_unique<PrivateXServer>();
    setenv("DISPLAY", server->name().c_str(), 1);
}

void usePrivateSessionBus() {
    // Ended at exit, with the static: it must not outlive the test process. It starts no
    // services on demand: a desktop portal started by a question would outlive the bus.
    static std::unique_ptr<ChildProcess> bus;
    if (bus) {
        return;
    }
    TemporaryDirectory folder;
    const std::string configuration = folder.path() + "/session.conf";
    writeFile(configuration, R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    bus = std::make_unique<ChildProcess>(std::vector<std::string>{"dbus-daemon",
                                                                  "--config-file=" + configuration,
                                                                  "--nofork", "--print-address=3"},
                                         std::vector<std::string>{}, 3);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->announcement().c_str(), 1);
}

void ensureQtApplication() {
    static int argc = 1;
    static char name[] = "brimlow-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = nullptr;
    if (application == nullptr) {
        application = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void runEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

} // namespace brimlow::testing
