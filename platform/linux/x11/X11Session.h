#pragma once

#include "platform/Console.h"
#include "platform/IdleClock.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"
#include "platform/linux/base/ProcWorkspace.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// The process's one connection to the X server, opened at construction and kept for the life
// of the process. Main thread only. Without a server every question gets the answer "cannot
// tell"; X protocol errors (a window that vanished between two requests) never end the process.
class X11Session {
public:
    // `displayName` empty: the display $DISPLAY names.
    explicit X11Session(Console& console, const std::string& displayName = {});
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    bool connected() const;
    bool hasXTest() const;
    bool hasScreenSaverExtension() const;

    // Milliseconds since the server last saw input, by MIT-SCREEN-SAVER; once a second has
    // passed without input, counted here until the server's SYNC IDLETIME alarm says input came.
    std::optional<unsigned long> idleMilliseconds();
    std::optional<Point> pointer();
    // A synthetic motion event through XTEST, as if the pointer device moved.
    bool fakeMotion(Point to);

    // The processes that own a normal top-level window (its _NET_WM_WINDOW_TYPE absent or
    // listing _NET_WM_WINDOW_TYPE_NORMAL): the windows in the root's _NET_CLIENT_LIST, or with
    // no window manager the mapped children of the root, by their _NET_WM_PID. Sorted. Two
    // round trips to the server however many windows there are.
    std::vector<int> pidsWithNormalWindows();

    // Adds or removes _NET_WM_STATE_SKIP_TASKBAR on a top-level window: a request to the window
    // manager while the window is mapped, the window's own property before it is mapped (the
    // toolkit merges it into the state it sets when it maps the window).
    void setSkipTaskbar(unsigned long window, bool mapped, bool skip);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Idle time from the X server; 0 without one or without its MIT-SCREEN-SAVER extension, which
// one line on the console reports the first time.
class XIdleClock final : public IdleClock {
public:
    XIdleClock(X11Session& session, Console& console) : session_(session), console_(console) {}
    double secondsSinceLastInput() override;

private:
    X11Session& session_;
    Console& console_;
    bool reported_ = false;
};

class XPointerEvents final : public PointerEvents {
public:
    explicit XPointerEvents(X11Session& session) : session_(session) {}
    // Delivered once the X server has the event.
    void postMouseMovedBy(Offset by, DeliveryReport report) override;

private:
    X11Session& session_;
};

// An X11 session with XTEST lets any client post input: granted. Without XTEST, denied. The user
// is never asked, so there is nothing to request and the answer never changes while the program
// runs. (In a Wayland session events posted through Xwayland reach only X clients: the program
// never uses this there.)
class XPostEventAccess final : public PostEventAccess {
public:
    explicit XPostEventAccess(X11Session& session) : session_(session) {}
    Access check() override;
    void request() override {}
    bool isTrusted() override { return check() == Access::granted; }
    std::string requestOutcome() override;
    std::string grantPlace() override;

private:
    X11Session& session_;
};

// The processes that own a normal top-level window on the X display are the applications with
// windows; asked once per walk.
class XWindowOwners final : public ApplicationWindows {
public:
    explicit XWindowOwners(X11Session& session) : session_(session) {}
    void refresh() override { owners_ = session_.pidsWithNormalWindows(); }
    bool isRegular(int pid, const std::optional<std::string>&) override;

private:
    X11Session& session_;
    std::vector<int> owners_;
};

} // namespace brimlow::platform::linuxdesktop
