#pragma once

#include "HeadlessCompositor.h"
#include "Process.h"
#include "Sandbox.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// GNOME's compositor without a screen, for the tests of the program as a Wayland client.
// Nothing here includes Qt, so X11 headers can sit beside it.
namespace brimlow::e2e {

class QtBusConnection;

// The Debian package this machine lacks to run the tests against headless mutter, or nothing.
std::optional<std::string> missingMutterPackage();

enum class Xwayland {
    Off,
    // As a real GNOME session does: X11 clients have a DISPLAY too, though one where
    // XScreenSaver and XTEST see and move nothing of the Wayland session.
    On,
};

// mutter --headless with one 1280x800 virtual monitor, on a sandbox's session bus and runtime
// directory.
class HeadlessMutter : public HeadlessCompositor {
public:
    // Returns once mutter answers on the bus (org.gnome.Mutter.IdleMonitor has an owner) and
    // its Wayland socket, and with Xwayland its X display, take clients; throws with mutter's
    // log if it never gets there.
    explicit HeadlessMutter(const Sandbox& sandbox, Xwayland xwayland = Xwayland::Off);
    ~HeadlessMutter() override;

    const std::string& busAddress() const { return busAddress_; }
    // DISPLAY of its Xwayland (":2", say); nothing without Xwayland.
    const std::optional<std::string>& xDisplay() const { return xDisplay_; }
    // The authority file its Xwayland demands a cookie from; nothing without Xwayland.
    const std::optional<std::string>& xAuthority() const { return xAuthority_; }

    // As in a GNOME Wayland login (XDG_CURRENT_DESKTOP=GNOME); DISPLAY and XAUTHORITY name
    // Xwayland's, and are unset without it.
    Environment clientEnvironment() const override;

    // The compositor's idle time (org.gnome.Mutter.IdleMonitor GetIdletime), in milliseconds.
    std::uint64_t idleTimeMs() const;

private:
    std::string busAddress_;
    std::optional<std::string> xDisplay_;
    std::optional<std::string> xAuthority_;
    std::unique_ptr<QtBusConnection> bus_;
};

// The test acting as the user at the keyboard and mouse: a remote-desktop session of its own
// on mutter (org.gnome.Mutter.RemoteDesktop), started by the constructor and stopped by the
// destructor. Its input counts as the user's: it moves the one pointer every client sees and
// resets the idle time. Mutter ends the session when the connection that made it closes, so
// the object holds that connection for its whole life.
class PointerOracle;
struct SurfacePoint;

class RemoteDesktopSession {
public:
    // Throws if mutter refuses the session.
    explicit RemoteDesktopSession(const HeadlessMutter& mutter);
    ~RemoteDesktopSession();
    RemoteDesktopSession(const RemoteDesktopSession&) = delete;
    RemoteDesktopSession& operator=(const RemoteDesktopSession&) = delete;

    // Moves the pointer by (dx, dy) logical pixels, as a mouse does; the compositor keeps it
    // on the screen. Throws if mutter refuses.
    void movePointerBy(double dx, double dy);
    // Puts the pointer at (x, y) on the screen. Without a screencast stream mutter takes only
    // relative moves, so it goes into the top-left corner first, where the screen's edges stop
    // it, and from there by (x, y).
    void placePointerAt(double x, double y);
    // Puts the pointer at (x, y) and clicks the left button there.
    void clickAt(double x, double y);
    // Presses and releases the key with this X keysym (XK_space is 0x20). The idle time resets
    // at once. A headless mutter has no keyboard before the first session starts, and clients
    // make theirs only when it appears: a key sent right after the start can reach them as its
    // release alone; one sent a moment later arrives whole.
    void tapKey(std::uint32_t keysym);
    // Presses the keys in order and releases them in reverse, as a shortcut is typed
    // ({XK_Alt_L, XK_s} is Alt+S).
    void tapKeys(const std::vector<std::uint32_t>& keysyms);

private:
    std::unique_ptr<QtBusConnection> bus_;
    std::string sessionPath_;
};

// Puts the pointer at `at` until `oracle` reports it there; false if it never does by
// `deadline`. The session's pointer device appears when the session starts, and a client makes
// its wl_pointer only once it hears of it: mutter 48 gives a pointer made after the pointer
// came over the surface no enter until the pointer moves again, so the moves made meanwhile
// reach nobody and are made again. It returns once the pointer has stayed there a while, so a
// late answer to an earlier try cannot arrive after it as moves of someone else's.
bool placePointerSeenBy(RemoteDesktopSession& user, const PointerOracle& oracle, SurfacePoint at,
                        Clock::time_point deadline);

} // namespace brimlow::e2e
