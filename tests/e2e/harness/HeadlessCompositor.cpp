#include "HeadlessCompositor.h"

#include "QtBus.h"

#include <QDBusMetaType>
#include <QMap>
#include <atomic>
#include <csignal>
#include <stdexcept>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

// Each is up in well under a second here; a loaded two-core CI machine with Xwayland starting
// in software rendering takes a few.
constexpr auto startTimeout = 20s;
constexpr auto stopTimeout = 5s;

} // namespace

std::optional<std::string> variableIn(const Environment& env, const std::string& name) {
    const std::string prefix = name + "=";
    for (const auto& entry : env.entries()) {
        if (entry.starts_with(prefix)) {
            return entry.substr(prefix.size());
        }
    }
    return std::nullopt;
}

std::optional<std::string>
firstMissingPackage(const std::vector<std::pair<std::string, std::string>>& programs) {
    for (const auto& [program, package] : programs) {
        if (!findProgram(program)) {
            return package;
        }
    }
    return std::nullopt;
}

std::string uniqueWaylandDisplay() {
    static std::atomic<int> count{0};
    return "wayland-brimlow-" + std::to_string(getpid()) + "-" + std::to_string(++count);
}

HeadlessCompositor::HeadlessCompositor(std::string name, Environment sessionEnvironment,
                                       std::string desktop)
    : name_(std::move(name)), sessionEnvironment_(std::move(sessionEnvironment)),
      desktop_(std::move(desktop)) {}

HeadlessCompositor::~HeadlessCompositor() {
    if (!process_) {
        return;
    }
    // The compositor alone first: it ends what it started itself (mutter its Xwayland, which
    // then removes the X display's lock file and socket from /tmp). Signalled together with
    // those, as its whole process group, it often sees them die first and exits without that,
    // leaving a stale display behind.
    if (process_->running()) {
        kill(process_->pid(), SIGTERM);
        process_->waitForExit(stopTimeout);
    }
    process_->stop();
}

void HeadlessCompositor::start(std::vector<std::string> argv, Environment env,
                               const std::function<bool()>& ready) {
    SpawnOptions options;
    options.argv = std::move(argv);
    options.env = std::move(env);
    // The display the tests themselves run on (scripts/test's Xvfb) is none of the
    // compositor's business: with DISPLAY or WAYLAND_DISPLAY set it would become a client there.
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        options.env.unset(name);
    }
    // Its log, kept for failure messages.
    options.captureStdout = true;
    options.stderrToStdout = true;
    process_ = std::make_unique<Child>(options);

    const bool isReady = pollUntil(process_->startedAt() + startTimeout,
                                   [&] { return !process_->running() || ready(); });
    if (auto status = process_->waitForExit(0s)) {
        throw std::runtime_error(name_ + " exited with status " + std::to_string(*status) +
                                 " before it was ready:\n" + log());
    }
    if (!isReady) {
        throw std::runtime_error(name_ + " was not ready within " +
                                 std::to_string(startTimeout.count()) + " s:\n" + log());
    }
    startupTime_ = Clock::now() - process_->startedAt();
}

Environment HeadlessCompositor::clientEnvironment() const {
    Environment env = sessionEnvironment_;
    env.set("WAYLAND_DISPLAY", waylandDisplay_);
    env.set("XDG_SESSION_TYPE", "wayland");
    env.set("XDG_CURRENT_DESKTOP", desktop_);
    env.set("QT_QPA_PLATFORM", "wayland");
    for (const char* name : {"WAYLAND_SOCKET", "DISPLAY", "XAUTHORITY"}) {
        env.unset(name);
    }
    return env;
}

void HeadlessCompositor::shareEnvironmentWithTheBus() const {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const Environment client = clientEnvironment();
    const auto bus = variableIn(client, "DBUS_SESSION_BUS_ADDRESS");
    if (!bus) {
        throw std::logic_error("the session of " + name_ + " has no session bus");
    }
    QMap<QString, QString> session{
        {QStringLiteral("DISPLAY"), QString()},
        {QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1")}};
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
                             "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"}) {
        session[name] = QString::fromStdString(variableIn(client, name).value_or(""));
    }
    QtBusConnection(*bus).call(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"),
        {QVariant::fromValue(session)});
}

std::string HeadlessCompositor::log() const {
    std::string text;
    for (const auto& line : process_->lines()) {
        text += "  " + line.text + "\n";
    }
    return text;
}

} // namespace brimlow::e2e
