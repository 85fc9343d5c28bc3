#include "SessionInput.h"

#include "base/DesktopApplications.h"
#include "base/Files.h"
#include "base/NoInput.h"
#include "wayland/MutterIdleClock.h"
#include "wayland/MutterRemoteInput.h"
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
                           std::string poster) {
    if (isWaylandSession()) {
        chooseWayland(console, notifications, poster);
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
                                 const std::string& poster) {
    windows_ = &keep(backends_, std::make_shared<DesktopApplications>());
    std::string idle;
    if (MutterIdleClock::isAvailable()) {
        idleClock_ = &keep(backends_, std::make_shared<MutterIdleClock>(console));
        idle = "idle time from GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)";
    } else {
        idleClock_ = &keep(backends_, std::make_shared<NoIdleClock>());
        idle = "no idle time: the compositor offers no idle monitor on the session bus";
    }
    std::string moves;
    if (MutterRemoteInput::isAvailable()) {
        auto mutter = std::make_shared<MutterRemoteInput>(notifications, poster, console);
        pointer_ = mutter.get();
        access_ = mutter.get();
        keep(backends_, mutter);
        moves = "pointer moves through GNOME's remote desktop (org.gnome.Mutter.RemoteDesktop)";
    } else if (PortalRemoteInput::isAvailable()) {
        auto portal =
            std::make_shared<PortalRemoteInput>(notifications, poster,
                                                xdgBaseDirectory("XDG_STATE_HOME", ".local/state") +
                                                    "/pellvane/Brimlow2.remote-desktop-token",
                                                console);
        pointer_ = portal.get();
        access_ = portal.get();
        keep(backends_, portal);
        moves = "pointer moves through the remote desktop portal "
                "(org.freedesktop.portal.RemoteDesktop), once you allow it";
    } else {
        auto none = std::make_shared<NoPointerInput>(
            "a desktop that offers remote input to the programs of your session (GNOME's remote "
            "desktop, or a remote desktop portal)");
        pointer_ = none.get();
        access_ = none.get();
        keep(backends_, none);
        moves = "no pointer moves: the compositor offers neither a remote desktop nor a remote "
                "desktop portal";
    }
    description_ = "Wayland session: " + idle + "; " + moves;
}

} // namespace brimlow::platform::linuxdesktop
