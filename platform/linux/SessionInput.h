#pragma once

#include "platform/Console.h"
#include "platform/DistributedNotifications.h"
#include "platform/IdleClock.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"
#include "platform/SessionLock.h"
#include "platform/linux/base/ProcWorkspace.h"

#include <memory>
#include <string>

namespace brimlow::platform::linuxdesktop {

class WaylandConnection;
class X11Session;

// The session's input, chosen once at start by what the session offers: on X11 the X server
// (MIT-SCREEN-SAVER idle time, XTEST moves, window owners); on Wayland, never X11 even when
// DISPLAY is set, but the compositor's own interfaces (GNOME's idle monitor and remote desktop;
// the idle notifications, virtual pointer and fake input of Wayland protocols), the remote
// desktop portal, and the installed applications. What could not be found reads no idle time or
// denies the permission, and says why. Main thread only.
class SessionInput {
public:
    // Changes of the permission are posted on `notifications` with `poster` as their object;
    // `lock` tells a session the screen lock ended from one the user stopped.
    SessionInput(Console& console, DistributedNotifications& notifications, std::string poster,
                 SessionLock& lock);
    ~SessionInput();
    SessionInput(const SessionInput&) = delete;
    SessionInput& operator=(const SessionInput&) = delete;

    IdleClock& idleClock() { return *idleClock_; }
    PointerEvents& pointer() { return *pointer_; }
    PostEventAccess& access() { return *access_; }
    ApplicationWindows& windows() { return *windows_; }
    // The X connection in an X11 session; nothing in a Wayland session.
    X11Session* x11() { return x11_.get(); }
    // One line naming the session, the idle source and the pointer mechanism, or why none.
    const std::string& description() const { return description_; }

private:
    void chooseX11(Console& console);
    void chooseWayland(Console& console, DistributedNotifications& notifications,
                       const std::string& poster, SessionLock& lock);
    // Each returns its part of the description.
    std::string chooseWaylandIdleClock(Console& console);
    std::string chooseWaylandPointer(Console& console, DistributedNotifications& notifications,
                                     const std::string& poster, SessionLock& lock);
    // The program's own connection to the compositor; nothing when there is none.
    WaylandConnection* waylandConnection(Console& console);
    // Makes `backend` both the pointer and the permission.
    template <typename Backend> void use(std::shared_ptr<Backend> backend);

    std::unique_ptr<X11Session> x11_;
    // Declared before the backends, which use it, so that it outlives them.
    std::unique_ptr<WaylandConnection> wayland_;
    bool waylandTried_ = false;
    // Whatever was chosen, owned here; the references below point into them.
    std::vector<std::shared_ptr<void>> backends_;
    IdleClock* idleClock_ = nullptr;
    PointerEvents* pointer_ = nullptr;
    PostEventAccess* access_ = nullptr;
    ApplicationWindows* windows_ = nullptr;
    std::string description_;
};

} // namespace brimlow::platform::linuxdesktop
