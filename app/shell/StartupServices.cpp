#include "AppDelegate.h"
#include "app/server/SCL.h"
#include "app/ui/PreferenceKeys.h"

#include <cstdint>
#include <limits>

namespace brimlow {

// None of these waits for the network: the configuration request reports back on the main
// queue after start-up has finished.
void AppDelegate::startServices() {
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

} // namespace brimlow
