#pragma once

#include "QtMainLoop.h"
#include "platform/Application.h"
#include "platform/Console.h"

#include <functional>
#include <memory>
#include <string>

class QWindow;

namespace brimlow::platform::linuxdesktop {

class UiMainInterface;

// Where a running copy takes a second start's request: a method Reopen(), or
// ReopenWithToken(s token) with the desktop's activation token, at this path, under the bus name
// of the bundle identifier.
inline constexpr const char* applicationPath = "/com/pellvane/Brimlow2";
inline constexpr const char* applicationInterface = "com.pellvane.Brimlow2.Application";

// The QApplication's life: one copy per session (the session bus name is the bundle
// identifier), the main interface, the launch and the event loop. Main thread only.
class QtApplication final : public Application {
public:
    // Takes a top-level window's taskbar entry away (skip) or gives it back, as the display
    // server's window manager is asked to; `mapped` says whether the window is on screen yet.
    using SkipTaskbar = std::function<void(unsigned long window, bool mapped, bool skip)>;
    // Asks the display server to give `window` the focus on the strength of an activation token
    // another program was given; false if it could not be asked.
    using ActivateWithToken = std::function<bool(QWindow& window, const std::string& token)>;

    // Without `skipTaskbar` (a session that has no such request) the policy changes nothing;
    // without `activateWithToken` a second start's token is not used.
    QtApplication(QtMainLoop& loop, SkipTaskbar skipTaskbar, ActivateWithToken activateWithToken,
                  Console& console, std::string busName);
    ~QtApplication() override;
    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

    // Without a session bus the program runs without the handover, and says so.
    int main(const InterfaceLoaded& interfaceLoaded) override;
    void terminate() override;
    // On X11 the window's _NET_WM_STATE_SKIP_TASKBAR: accessory takes the taskbar entry away
    // without unmapping the window, so nothing flickers.
    void setActivationPolicy(ActivationPolicy policy) override;
    ActivationPolicy activationPolicy() const override;
    // With the token of the second start that asked for the window, where there is one.
    void activateIgnoringOtherApps() override;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace brimlow::platform::linuxdesktop
