#include "HeadlessMutter.h"

#include "QtBus.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <X11/Xauth.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace brimlow::e2e {
namespace {

const QString idleMonitorService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString remoteDesktopService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString remoteDesktopSessionInterface =
    QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
// Mutter is up in well under a second here; a loaded two-core CI machine with Xwayland starting
// in software rendering takes a few.
constexpr auto startTimeout = 20s;
constexpr auto stopTimeout = 5s;

std::string uniqueWaylandDisplay() {
    static std::atomic<int> count{0};
    return "wayland-brimlow-" + std::to_string(getpid()) + "-" + std::to_string(++count);
}

std::vector<std::string> commandLineOf(const std::filesystem::path& processDir) {
    std::ifstream in(processDir / "cmdline");
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) {
        args.push_back(arg);
    }
    return args;
}

std::optional<pid_t> parentOf(const std::filesystem::path& processDir) {
    std::ifstream in(processDir / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces and parentheses itself.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(rest >> state >> parent)) {
        return std::nullopt;
    }
    return parent;
}

struct XwaylandServer {
    std::string display;
    std::string authority;
};

// Mutter 43 reports the X display it picks only on its log and to gnome-session (which a test
// does not run), and its own environment never shows it; the Xwayland it starts carries both
// the display and the authority file on its command line.
std::optional<XwaylandServer> xwaylandStartedBy(pid_t mutter) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            parentOf(entry.path()) != mutter) {
            continue;
        }
        const auto args = commandLineOf(entry.path());
        if (args.empty() || std::filesystem::path(args[0]).filename() != "Xwayland") {
            continue;
        }
        XwaylandServer server;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i].starts_with(":")) {
                server.display = args[i];
            } else if (args[i] == "-auth" && i + 1 < args.size()) {
                server.authority = args[i + 1];
            }
        }
        if (!server.display.empty() && !server.authority.empty()) {
            return server;
        }
    }
    return std::nullopt;
}

// Connects as an X client of the session would, with the cookie from the authority file.
// Mutter listens on the display's socket before Xwayland runs, so a connection made early
// waits for the server instead of failing.
bool xServerAccepts(const XwaylandServer& server) {
    FILE* file = std::fopen(server.authority.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    Xauth* cookie = XauReadAuth(file);
    std::fclose(file);
    if (cookie == nullptr) {
        return false;
    }
    xcb_auth_info_t auth{cookie->name_length, cookie->name, cookie->data_length, cookie->data};
    xcb_connection_t* connection =
        xcb_connect_to_display_with_auth_info(server.display.c_str(), &auth, nullptr);
    const bool accepted = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    XauDisposeAuth(cookie);
    return accepted;
}

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

std::optional<std::string> missingMutterPackage() {
    if (!findProgram("mutter")) {
        return "mutter";
    }
    if (!findProgram("dbus-daemon")) {
        return "dbus";
    }
    return std::nullopt;
}

HeadlessMutter::HeadlessMutter(const Sandbox& sandbox, Xwayland xwayland)
    : busAddress_(sandbox.busAddress()), sandboxEnvironment_(sandbox.environment()),
      waylandDisplay_(uniqueWaylandDisplay()) {
    const auto runtimeDir = variableIn(sandboxEnvironment_, "XDG_RUNTIME_DIR");
    if (!runtimeDir) {
        throw std::logic_error("the sandbox gives no XDG_RUNTIME_DIR");
    }
    bus_ = std::make_unique<QtBusConnection>(busAddress_);

    SpawnOptions options;
    // Its log goes to standard output, where the harness keeps it for failure messages.
    options.argv = {"sh",
                    "-c",
                    "exec \"$0\" \"$@\" 2>&1",
                    "mutter",
                    "--headless",
                    "--wayland",
                    "--wayland-display=" + waylandDisplay_,
                    "--virtual-monitor",
                    "1280x800"};
    if (xwayland == Xwayland::Off) {
        options.argv.push_back("--no-x11");
    }
    options.env = sandboxEnvironment_;
    // The display the tests themselves run on (scripts/test's Xvfb) is none of mutter's
    // business: with DISPLAY or WAYLAND_DISPLAY set it would become a client there.
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        options.env.unset(name);
    }
    options.captureStdout = true;
    mutter_ = std::make_unique<Child>(options);

    const auto socket = std::filesystem::path(*runtimeDir) / waylandDisplay_;
    std::optional<XwaylandServer> xServer;
    const bool ready = pollUntil(mutter_->startedAt() + startTimeout, [&] {
        if (!mutter_->running()) {
            return true;
        }
        if (!std::filesystem::exists(socket) || !bus_->hasOwner(idleMonitorService)) {
            return false;
        }
        if (xwayland == Xwayland::On && !xServer) {
            xServer = xwaylandStartedBy(mutter_->pid());
        }
        return xwayland == Xwayland::Off || xServer.has_value();
    });
    if (auto status = mutter_->waitForExit(0s)) {
        throw std::runtime_error("mutter exited with status " + std::to_string(*status) +
                                 " before it was ready:\n" + log());
    }
    if (!ready) {
        throw std::runtime_error("mutter was not ready within " +
                                 std::to_string(startTimeout.count()) + " s:\n" + log());
    }
    if (xServer) {
        if (!xServerAccepts(*xServer)) {
            throw std::runtime_error("Xwayland on " + xServer->display +
                                     " refused a client with the cookie from " +
                                     xServer->authority + ":\n" + log());
        }
        xDisplay_ = xServer->display;
        xAuthority_ = xServer->authority;
    }
    startupTime_ = Clock::now() - mutter_->startedAt();
}

HeadlessMutter::~HeadlessMutter() {
    bus_.reset();
    // Mutter alone first: it ends its Xwayland itself and removes the X display's lock file and
    // socket from /tmp. Signalled together with Xwayland, as its whole process group, it often
    // sees Xwayland die first and exits without that, leaving a stale display behind.
    if (mutter_->running()) {
        kill(mutter_->pid(), SIGTERM);
        mutter_->waitForExit(stopTimeout);
    }
    mutter_->stop();
}

pid_t HeadlessMutter::pid() const {
    return mutter_->pid();
}

Environment HeadlessMutter::clientEnvironment() const {
    Environment env = sandboxEnvironment_;
    env.set("WAYLAND_DISPLAY", waylandDisplay_);
    env.set("XDG_SESSION_TYPE", "wayland");
    env.set("XDG_CURRENT_DESKTOP", "GNOME");
    env.set("QT_QPA_PLATFORM", "wayland");
    env.unset("WAYLAND_SOCKET");
    if (xDisplay_ && xAuthority_) {
        env.set("DISPLAY", *xDisplay_);
        env.set("XAUTHORITY", *xAuthority_);
    } else {
        env.unset("DISPLAY");
        env.unset("XAUTHORITY");
    }
    return env;
}

std::uint64_t HeadlessMutter::idleTimeMs() const {
    const auto reply =
        bus_->call(idleMonitorService, QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                   idleMonitorService, QStringLiteral("GetIdletime"));
    if (reply.isEmpty() || !reply.first().canConvert<qulonglong>()) {
        throw std::runtime_error("GetIdletime answered without a time");
    }
    return reply.first().toULongLong();
}

void HeadlessMutter::shareEnvironmentWithTheBus() const {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const Environment client = clientEnvironment();
    QMap<QString, QString> session{{QStringLiteral("DISPLAY"), QString()}};
    for (const char* name :
         {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR"}) {
        session[name] = QString::fromStdString(variableIn(client, name).value_or(""));
    }
    bus_->call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
               QStringLiteral("org.freedesktop.DBus"),
               QStringLiteral("UpdateActivationEnvironment"), {QVariant::fromValue(session)});
}

std::string HeadlessMutter::log() const {
    std::string text;
    for (const auto& line : mutter_->lines()) {
        text += "  " + line.text + "\n";
    }
    return text;
}

RemoteDesktopSession::RemoteDesktopSession(const HeadlessMutter& mutter)
    : bus_(std::make_unique<QtBusConnection>(mutter.busAddress())) {
    const auto reply =
        bus_->call(remoteDesktopService, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                   remoteDesktopService, QStringLiteral("CreateSession"));
    if (reply.isEmpty()) {
        throw std::runtime_error("CreateSession answered without a session");
    }
    sessionPath_ = reply.first().value<QDBusObjectPath>().path().toStdString();
    bus_->call(remoteDesktopService, QString::fromStdString(sessionPath_),
               remoteDesktopSessionInterface, QStringLiteral("Start"));
}

RemoteDesktopSession::~RemoteDesktopSession() {
    try {
        bus_->call(remoteDesktopService, QString::fromStdString(sessionPath_),
                   remoteDesktopSessionInterface, QStringLiteral("Stop"));
    } catch (const std::exception&) {
        // Mutter closed it already (it went away, or ended the session itself); closing the
        // connection below ends whatever is left.
    }
}

void RemoteDesktopSession::movePointerBy(double dx, double dy) {
    bus_->call(remoteDesktopService, QString::fromStdString(sessionPath_),
               remoteDesktopSessionInterface, QStringLiteral("NotifyPointerMotionRelative"),
               {dx, dy});
}

void RemoteDesktopSession::placePointerAt(double x, double y) {
    // Farther than any screen reaches.
    constexpr double beyondTheEdge = -1e6;
    movePointerBy(beyondTheEdge, beyondTheEdge);
    movePointerBy(x, y);
}

void RemoteDesktopSession::clickAt(double x, double y) {
    // The kernel's code for the left button, as libinput reports it.
    constexpr int leftButton = 0x110;
    placePointerAt(x, y);
    for (bool pressed : {true, false}) {
        bus_->call(remoteDesktopService, QString::fromStdString(sessionPath_),
                   remoteDesktopSessionInterface, QStringLiteral("NotifyPointerButton"),
                   {leftButton, pressed});
    }
}

void RemoteDesktopSession::tapKey(std::uint32_t keysym) {
    tapKeys({keysym});
}

void RemoteDesktopSession::tapKeys(const std::vector<std::uint32_t>& keysyms) {
    auto key = [this](std::uint32_t keysym, bool pressed) {
        bus_->call(remoteDesktopService, QString::fromStdString(sessionPath_),
                   remoteDesktopSessionInterface, QStringLiteral("NotifyKeyboardKeysym"),
                   {QVariant::fromValue(uint(keysym)), pressed});
    };
    for (std::uint32_t keysym : keysyms) {
        key(keysym, true);
    }
    for (auto keysym = keysyms.rbegin(); keysym != keysyms.rend(); ++keysym) {
        key(*keysym, false);
    }
}

} // namespace brimlow::e2e
