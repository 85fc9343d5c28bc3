#pragma once

#include "AppDelegate.h"
#include "app/ui/MainVC.h"
#include "platform/Desktop.h"

#include <memory>

namespace brimlow {

// The program's long-lived objects, built once the main interface has loaded.
class Brimlow {
public:
    explicit Brimlow(const platform::Desktop& desktop);

    // Runs the program on its desktop; returns the exit status.
    int main();

    MainVC* mainVC() const { return mainVC_.get(); }
    AppDelegate* delegate() const { return delegate_.get(); }

private:
    platform::ApplicationDelegate& interfaceLoaded(platform::MainInterface& interface);

    const platform::Desktop& desktop_;
    // Declared first so it goes last: the delegate reaches the controller until it is gone.
    std::unique_ptr<MainVC> mainVC_;
    std::unique_ptr<AppDelegate> delegate_;
};

} // namespace brimlow
