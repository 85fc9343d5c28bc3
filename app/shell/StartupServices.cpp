#include "AppDelegate.h"
#include "app/server/SCL.h"
#include "app/ui/PreferenceKeys.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brimlow {
namespace {

const char* const launcherBundleIdentifier = "com.pellvane.BrimlowLauncher2";
const char* const quitLauncherNotification = "killLauncher";

} // namespace

// None of these waits for the network: the configuration request reports back on the main
// queue after start-up has finished.
void AppDelegate::startServices() {
    registerLoginItem();
    SCL::fetchRemoteConfig(desktop_);

    if (desktop_.preferences.integerForKey(keys::launchCount) == 0) {
        SCL::reportEvent(desktop_, "First launch", "", "");
    }
    // Read again rather than reused: counters continue from what the store holds now. One at
    // its largest value stays there instead of wrapping.
    std::int64_t launches = desktop_.preferences.integerForKey(keys::launchCount);
    if (launches < std::numeric_limits<std::int64_t>::max()) {
        desktop_.preferences.setInteger(keys::launchCount, launches + 1);
    }

    if (window != nullptr) {
        window->setTitle(window->title() + " " + SCL::appVersion(desktop_));
    }
}

// The launchers are counted before the login item is enabled: one that starts after the count
// finds this program running and quits by itself.
void AppDelegate::registerLoginItem() {
    const auto applications = desktop_.workspace.runningApplications();
    const auto launchers = std::count_if(applications.begin(), applications.end(), [](auto& app) {
        return app.bundleIdentifier == launcherBundleIdentifier;
    });

    platform::LoginItemResult loginItem = desktop_.loginItems.enable(launcherBundleIdentifier);
    desktop_.console.printLine(loginItem.enabled ? "true" : "false");
    if (!loginItem.failure.empty()) {
        desktop_.console.printLine(loginItem.failure);
    }

    if (launchers > 0) {
        desktop_.notifications.post(quitLauncherNotification, desktop_.bundle.identifier());
    }
}

} // namespace brimlow
