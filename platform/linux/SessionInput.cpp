#include "SessionInput.h"

#include "base/DesktopApplications.h"
#include "base/Files.h"
#include "base/NoInput.h"
#include "wayland/CompositorPointer.h"
#include "wayland/MutterIdleClock.h"
#include "wayland/MutterRemoteInput.h"
#include "wayland/NotifiedIdleClock.h"
#include "wayland/PortalRemoteInput.h"
#include "x11/X11Session.h"

namespace brimlow::platform::linuxdesktop {
namespace {

// Keeps `backend` alive with the others and hands it back.
template <typename Backend>
Backend& keep(std::vector<std::shared_ptr<void>>& kept, std::shared_ptr<Backend> backend) {
    kept.push_back(backend);
    return *backend;
}

} // namespace

SessionInput::SessionInput(Console& console, DistributedNotifications& notifications,
                           std::string poster, SessionLock& lock) {
    if (isWaylandSession()) {
        chooseWayland(console, notifications, poster, lock);
    } else {
        chooseX11(console);
    }
}

SessionInput::~SessionInput() = default;

void SessionInput::chooseX11(Console& console) {
    x11_ = std::make_unique<X11Session>(console);
    idleClock_ = &keep(backends_, std::make_shared<XIdleClock>(*x11_, console));
    pointer_ = &keep(backends_, std::make_shared<XPointerEvents>(*x11_));
    access_ = &keep(backends_, std::make_shared<XPostEventAccess>(*x11_));
    windows_ = &keep(backends_, std::make_shared<XWindowOwners>(*x11_));
    if (!x11_->connected()) {
        description_ = "No X server and no Wayland session: no idle time, no pointer moves";
        return;
    }
    description_ = std::string("X11 session: idle time from the X server (") +
                   (x11_->hasScreenSaverExtension() ? "MIT-SCREEN-SAVER"
                                                    : "none: no MIT-SCREEN-SAVER extension") +
                   "); pointer moves through " +
                   (x11_->hasXTest() ? "XTEST" : "nothing: the X server has no XTEST extension");
}

void SessionInput::chooseWayland(Console& console, DistributedNotifications& notifications,
                                 const std::string& poster, SessionLock& lock) {
    windows_ = &keep(backends_, std::make_shared<DesktopApplications>());
    description_ = "Wayland session: " + chooseWaylandIdleClock(console) + "; " +
                   chooseWaylandPointer(console, notifications, poster, lock);
}

std::string SessionInput::chooseWaylandIdleClock(Console& console) {
    if (MutterIdleClock::isAvailable()) {
        idleClock_ = &keep(backends_, std::make_shared<MutterIdleClock>(console));
        return "idle time from GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)";
    }
    WaylandConnection* wayland = waylandConnection(console);
    if (auto protocol = wayland ? NotifiedIdleClock::offeredProtocol(*wayland) : std::nullopt) {
        idleClock_ = &keep(backends_, std::make_shared<NotifiedIdleClock>(*wayland));
        return "idle time from the compositor's idle notifications (" + *protocol + ")";
    }
    idleClock_ = &keep(backends_, std::make_shared<NoIdleClock>());
    return "no idle time: the compositor offers neither an idle monitor on the session bus nor "
           "idle notifications (ext_idle_notifier_v1, org_kde_kwin_idle)";
}

// Pointer moves with no question asked come first, then the portal, which asks the user.
std::string SessionInput::chooseWaylandPointer(Console& console,
                                               DistributedNotifications& notifications,
                                               const std::string& poster, SessionLock& lock) {
    if (MutterRemoteInput::isAvailable()) {
        use(std::make_shared<MutterRemoteInput>(notifications, poster, lock, console));
        return "pointer moves through GNOME's remote desktop (org.gnome.Mutter.RemoteDesktop)";
    }
    WaylandConnection* wayland = waylandConnection(console);
    if (wayland && wayland->offers(WlrVirtualPointer::protocol)) {
        use(std::make_shared<WlrVirtualPointer>(*wayland));
        return std::string("pointer moves through wlroots' virtual pointer (") +
               WlrVirtualPointer::protocol + ")";
    }
    if (wayland && wayland->offers(KWinFakeInput::protocol)) {
        use(std::make_shared<KWinFakeInput>(*wayland));
        return std::string("pointer moves through KWin's fake input (") + KWinFakeInput::protocol +
               ")";
    }
    if (PortalRemoteInput::isAvailable()) {
        use(std::make_shared<PortalRemoteInput>(notifications, poster,
                                                xdgBaseDirectory("XDG_STATE_HOME", ".local/state") +
                                                    "/pellvane/Brimlow2.remote-desktop-token",
                                                console));
        return "pointer moves through the remote desktop portal "
               "(org.freedesktop.portal.RemoteDesktop), once you allow it";
    }
    if (wayland && isKWin(*wayland)) {
        use(std::make_shared<NoPointerInput>(KWinFakeInput::permissionPlace));
        return std::string("no pointer moves: KWin offers its fake input (") +
               KWinFakeInput::protocol +
               ") only to installed programs that ask for it, and there is no remote desktop "
               "portal";
    }
    use(std::make_shared<NoPointerInput>(
        "a desktop that offers remote input to the programs of your session (GNOME's remote "
        "desktop, wlroots' virtual pointer, KWin's fake input, or a remote desktop portal)"));
    return "no pointer moves: the compositor offers no remote desktop, virtual pointer or fake "
           "input, and there is no remote desktop portal";
}

// Opened only once something needs it: on GNOME nothing does.
WaylandConnection* SessionInput::waylandConnection(Console& console) {
    if (!waylandTried_) {
        waylandTried_ = true;
        wayland_ = WaylandConnection::open(console);
    }
    return wayland_.get();
}

template <typename Backend> void SessionInput::use(std::shared_ptr<Backend> backend) {
    pointer_ = backend.get();
    access_ = backend.get();
    keep(backends_, std::move(backend));
}

} // namespace brimlow::platform::linuxdesktop
