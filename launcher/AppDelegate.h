#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <optional>
#include <string>

namespace brimlow::launcher {

// Started at login: starts Brimlow unless it already runs, then waits until Brimlow tells it to
// quit.
class AppDelegate final : public platform::LaunchDelegate {
public:
    explicit AppDelegate(const platform::HelperDesktop& desktop) : desktop_(desktop) {}

    void applicationDidFinishLaunching() override;
    void terminate();

private:
    bool mainApplicationRuns();

    const platform::HelperDesktop& desktop_;
    std::shared_ptr<platform::DistributedNotifications::Token> quitObserver_;
};

// Brimlow's executable in the bundle that holds this launcher's bundle at
// <main bundle>/Contents/Library/LoginItems/<launcher bundle>: found by position, whatever the
// folders are called. Nothing when the launcher's path is too short to sit in such a bundle.
std::optional<std::string> mainExecutablePath(const std::string& launcherBundlePath);

} // namespace brimlow::launcher
