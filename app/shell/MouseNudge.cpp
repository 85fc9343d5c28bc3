#include "AppDelegate.h"
#include "app/ui/MainVC.h"
#include "app/ui/PreferenceKeys.h"
#include "platform/Text.h"

#include <cstdint>
#include <limits>

namespace brimlow {
namespace {

constexpr double nudgeDistance = 2.0;
constexpr double secondsBeforeReturn = 1.0;

// The count stops at its largest value rather than wrapping to a negative one.
std::int64_t incremented(std::int64_t count) {
    return count == std::numeric_limits<std::int64_t>::max() ? count : count + 1;
}

void showStatusImage(const std::shared_ptr<const platform::Image>& image) {
    if (mainVC != nullptr && mainVC->systemMenu) {
        mainVC->systemMenu->setImage(image);
    }
}

} // namespace

void AppDelegate::nudgeMouse() {
    if (mainVC != nullptr && mainVC->systemMenu) {
        // Queued, so the move below goes out before the icon changes.
        desktop_.mainQueue.async([] { showStatusImage(mainVC->icon_green); });
    }
    desktop_.pointer.postMouseMovedBy({-nudgeDistance, +nudgeDistance});
    desktop_.timers.scheduleOnce(secondsBeforeReturn,
                                 [this] { desktop_.mainQueue.async([this] { nudgeBack(); }); });
}

// From wherever the pointer is now: the user may have moved it since the first half.
void AppDelegate::nudgeBack() {
    desktop_.pointer.postMouseMovedBy({+nudgeDistance, -nudgeDistance});
    if (mainVC != nullptr) {
        showStatusImage(mainVC->icon);
        std::int64_t shown = incremented(desktop_.preferences.integerForKey(keys::movedCount));
        mainVC->movedLbl->setStringValue(countLabelText(platform::text::groupedDecimal(shown)));
    }
    // Read again: another program may have changed the count meanwhile.
    desktop_.preferences.setInteger(
        keys::movedCount, incremented(desktop_.preferences.integerForKey(keys::movedCount)));
}

} // namespace brimlow
