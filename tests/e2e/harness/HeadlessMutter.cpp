#include "HeadlessMutter.h"

#include "PointerOracle.h"
#include "QtBus.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <X11/Xauth.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

namespace brimlow::e2e {
namespace {

const QString idleMonitorService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString remoteDesktopService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString remoteDesktopSessionInterface =
    QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
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

std::optional<std::string> missingMutterPackage() {
    return firstMissingPackage({{"mutter", "mutter"}, {"dbus-daemon", "dbus"}});
}

HeadlessMutter::HeadlessMutter(const Sandbox& sandbox, Xwayland xwayland)
    : HeadlessCompositor("mutter", sandbox.environment(), "GNOME"),
      busAddress_(sandbox.busAddress()) {
    const auto runtimeDir = variableIn(sandbox.environment(), "XDG_RUNTIME_DIR");
    if (!runtimeDir) {
        throw std::logic_error("the sandbox gives no XDG_RUNTIME_DIR");
    }
    bus_ = std::make_unique<QtBusConnection>(busAddress_);
    setWaylandDisplay(uniqueWaylandDisplay());

    std::vector<std::string> argv = {"mutter",
                                     "--headless",
                                     "--wayland",
                                     "--wayland-display=" + waylandDisplay(),
                                     "--virtual-monitor",
                                     std::to_string(screenWidth) + "x" +
                                         std::to_string(screenHeight)};
    if (xwayland == Xwayland::Off) {
        argv.push_back("--no-x11");
    }
    const auto socket = std::filesystem::path(*runtimeDir) / waylandDisplay();
    std::optional<XwaylandServer> xServer;
    start(argv, sandbox.environment(), [&] {
        if (!std::filesystem::exists(socket) || !bus_->hasOwner(idleMonitorService)) {
            return false;
        }
        if (xwayland == Xwayland::On && !xServer) {
            xServer = xwaylandStartedBy(pid());
        }
        return xwayland == Xwayland::Off || xServer.has_value();
    });
    if (xServer) {
        if (!xServerAccepts(*xServer)) {
            throw std::runtime_error("Xwayland on " + xServer->display +
                                     " refused a client with the cookie from " +
                                     xServer->authority + ":\n" + log());
        }
        xDisplay_ = xServer->display;
        xAuthority_ = xServer->authority;
    }
}

// Here, where QtBusConnection is complete; the connection closes before mutter is ended.
HeadlessMutter::~HeadlessMutter() = default;

Environment HeadlessMutter::clientEnvironment() const {
    Environment env = HeadlessCompositor::clientEnvironment();
    if (xDisplay_ && xAuthority_) {
        env.set("DISPLAY", *xDisplay_);
        env.set("XAUTHORITY", *xAuthority_);
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

bool placePointerSeenBy(RemoteDesktopSession& user, const PointerOracle& oracle, SurfacePoint at,
                        Clock::time_point deadline) {
    constexpr auto retryAfter = 250ms;
    constexpr auto settledAfter = 300ms;
    auto settled = [&] {
        const std::size_t seen = oracle.events().size();
        std::this_thread::sleep_for(settledAfter);
        return oracle.events().size() == seen && oracle.position() == at;
    };
    do {
        user.placePointerAt(at.x, at.y);
        while (Clock::now() < deadline &&
               oracle.waitForPosition(at, std::min(deadline, Clock::now() + retryAfter))) {
            if (settled()) {
                return true;
            }
        }
    } while (Clock::now() < deadline);
    return false;
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
