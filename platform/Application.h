#pragma once

#include <functional>

namespace brimlow::platform {

class MainInterface;

enum class ActivationPolicy { regular = 0, accessory = 1 };

// What the application object tells every program about its start.
class LaunchDelegate {
public:
    virtual ~LaunchDelegate() = default;
    // Delivered once, on the main thread, once the program has loaded.
    virtual void applicationDidFinishLaunching() = 0;
};

// What the application object tells a program with windows about its own life.
class ApplicationDelegate : public LaunchDelegate {
public:
    // Delivered on the main thread whenever the user opens the program again while it runs.
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
};

// The application object: process entry, run loop, activation and quitting.
class Application {
public:
    // Builds the program's objects once the main interface has loaded and returns its delegate.
    using InterfaceLoaded = std::function<ApplicationDelegate&(MainInterface&)>;

    virtual ~Application() = default;
    // Runs the application. When another copy already runs, hands the user's request over to it
    // (it gets a reopen) and returns 0 without loading anything. Otherwise loads the main
    // interface, calls `interfaceLoaded`, delivers applicationDidFinishLaunching and then runs
    // the main loop until terminate(); returns the process exit status.
    virtual int main(const InterfaceLoaded& interfaceLoaded) = 0;
    // Ends the main loop; main() then returns 0.
    virtual void terminate() = 0;
    // Regular: the window has a taskbar entry while shown. Accessory: no taskbar entry.
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual ActivationPolicy activationPolicy() const = 0;
    // Brings the program's windows in front of other programs' and gives it keyboard focus.
    virtual void activateIgnoringOtherApps() = 0;
};

// The application object of a program with no window and no interface (a helper the desktop
// starts at login): its run loop and its end.
class HelperApplication {
public:
    virtual ~HelperApplication() = default;
    // Delivers applicationDidFinishLaunching, then runs the main loop until terminate(); returns
    // the process exit status.
    virtual int main(LaunchDelegate& delegate) = 0;
    // Ends the main loop; main() then returns 0. Main thread only.
    virtual void terminate() = 0;
};

} // namespace brimlow::platform
