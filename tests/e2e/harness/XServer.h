#pragma once

#include "Geometry.h"
#include "Process.h"

#include <X11/Xlib.h>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow::e2e {

// One client connection to an X server. Windows of other clients may vanish at any moment, so
// X errors are recorded instead of ending the process, and every query copes with a window
// that is gone.
class XConnection {
public:
    // Retries until `timeout`; throws if the server never answers.
    explicit XConnection(const std::string& displayName, Clock::duration timeout = 5s);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* get() const { return display_; }
    const std::string& name() const { return name_; }
    Window root() const;
    Atom atom(const char* name) const;
    void sync() const;

    bool hasExtension(const char* name) const;

    // Bottom-most first, as the server stacks them.
    std::vector<Window> children(Window window) const;
    std::optional<Window> parent(Window window) const;
    // The ancestor that is a child of the root window (the window itself if it is one).
    std::optional<Window> topLevelOf(Window window) const;
    // Every window on the screen, depth first.
    std::vector<Window> allWindows() const;

    std::optional<long> cardinal(Window window, const char* property) const;
    std::vector<Atom> atoms(Window window, const char* property) const;
    // _NET_WM_NAME, else WM_NAME.
    std::string title(Window window) const;
    bool isViewable(Window window) const;
    // Set for windows that bypass the window manager: tooltips, menus, tray icons before the
    // tray takes them in.
    bool isOverrideRedirect(Window window) const;
    std::optional<Rect> rootGeometry(Window window) const;
    // How many different pixel values the window shows now (0 if it can't be read): 1 for a
    // blank window, more once something is drawn in it.
    std::size_t distinctPixels(Window window) const;

    // Windows anywhere in the tree whose _NET_WM_PID is `pid`.
    std::vector<Window> windowsOfProcess(pid_t pid) const;

    // The window that owns the system tray selection of the default screen, if any.
    std::optional<Window> trayManager() const;
    // True when the same client created both windows (their resource ids share a base).
    bool createdBySameClient(Window a, Window b) const;

    // The window holding the keyboard focus; nothing while the focus is None or follows the
    // pointer.
    std::optional<Window> inputFocus() const;

    PointerPosition pointer() const;
    // Pointer motion through the XTEST extension, the way input devices move it: it counts as
    // user input and resets the server's idle time.
    void fakeMotion(int x, int y) const;
    // Moves the pointer without an input event (works without XTEST).
    void warpPointer(int x, int y) const;

    // Asks the window's client to close it, as a window manager's close button does.
    void requestClose(Window window) const;

private:
    Display* display_ = nullptr;
    std::string name_;
    unsigned long resourceIdMask_ = 0;
};

// A plain window of the test's own, kept above whatever was mapped before it.
class CoverWindow {
public:
    CoverWindow(const XConnection& x, const Rect& area);
    ~CoverWindow();
    CoverWindow(const CoverWindow&) = delete;
    CoverWindow& operator=(const CoverWindow&) = delete;
    Window id() const { return window_; }

private:
    const XConnection& x_;
    Window window_ = 0;
};

// Position of `window` among the root's children, bottom-most 0; nothing if not a child.
std::optional<std::size_t> stackingIndex(const XConnection& x, Window window);

// The program's preferences window: a top-level window of `pid`, on screen, titled "Brimlow…",
// and not the tray icon.
std::optional<Window> preferencesWindow(const XConnection& x, pid_t pid);

// A window of `pid` that the tray host has taken in: its parent was created by the client
// that owns the system tray, and it is on screen.
std::optional<Window> embeddedIcon(const XConnection& x, pid_t pid);

// An Xvfb server of the test's own on a free display number, ended with the object.
class VirtualServer {
public:
    explicit VirtualServer(const std::vector<std::string>& extraArgs = {});
    const std::string& displayName() const { return displayName_; }

private:
    std::unique_ptr<Child> server_;
    std::string displayName_;
};

// Xorg on its dummy video driver, on the first free display: what Xvfb lacks, a screen's colour
// gamma (XF86VidMode), which screen savers fade the screen with. Ended with the object.
class DummyDriverServer {
public:
    DummyDriverServer();
    const std::string& displayName() const { return displayName_; }

private:
    TempDir dir_;
    std::unique_ptr<Child> server_;
    std::string displayName_;
};

// A tray host (trayer, or stalonetray where there is none) on `displayName`, ended with the
// object. Returns once it owns the tray.
class TrayHost {
public:
    explicit TrayHost(const std::string& displayName);
    pid_t pid() const { return host_->pid(); }

private:
    std::unique_ptr<Child> host_;
};

} // namespace brimlow::e2e
