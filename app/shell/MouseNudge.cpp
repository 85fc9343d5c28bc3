#include "AppDelegate.h"
#include "app/ui/MainVC.h"
#include "app/ui/PreferenceKeys.h"
#include "platform/Text.h"

#include <cstdint>
#include <limits>
#include <optional>

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

// One nudge's two halves meet here: the way back waits for the desktop's answer to the way out,
// which may come after the second has passed.
struct AppDelegate::Nudge {
    std::optional<bool> wayOutDelivered;
    bool wayBackDue = false;
};

void AppDelegate::nudgeMouse() {
    auto nudge = std::make_shared<Nudge>();
    desktop_.pointer.postMouseMovedBy(
        {-nudgeDistance, +nudgeDistance},
        [this, nudge](const platform::Delivery& delivery) { wayOutAnswered(nudge, delivery); });
    desktop_.timers.scheduleOnce(secondsBeforeReturn, [this, nudge] {
        desktop_.mainQueue.async([this, nudge] {
            nudge->wayBackDue = true;
            if (nudge->wayOutDelivered) {
                nudgeBack(*nudge);
            }
        });
    });
}

void AppDelegate::wayOutAnswered(const std::shared_ptr<Nudge>& nudge,
                                 const platform::Delivery& delivery) {
    noteDelivery(delivery);
    nudge->wayOutDelivered = delivery.delivered;
    if (nudge->wayBackDue) {
        nudgeBack(*nudge);
    } else if (delivery.delivered && mainVC != nullptr && mainVC->systemMenu) {
        // Queued, so the move goes out before the icon changes.
        desktop_.mainQueue.async([] { showStatusImage(mainVC->icon_green); });
    }
}

// From wherever the pointer is now: the user may have moved it since the first half. A way out
// that never landed has nothing to undo and nothing to count.
void AppDelegate::nudgeBack(const Nudge& nudge) {
    if (!*nudge.wayOutDelivered) {
        return;
    }
    desktop_.pointer.postMouseMovedBy(
        {+nudgeDistance, -nudgeDistance},
        [this](const platform::Delivery& delivery) { noteDelivery(delivery); });
    if (mainVC != nullptr) {
        showStatusImage(mainVC->icon);
        std::int64_t shown = incremented(desktop_.preferences.integerForKey(keys::movedCount));
        mainVC->movedLbl->setStringValue(countLabelText(platform::text::groupedDecimal(shown)));
    }
    // Read again: another program may have changed the count meanwhile.
    desktop_.preferences.setInteger(
        keys::movedCount, incremented(desktop_.preferences.integerForKey(keys::movedCount)));
}

// A mechanism that keeps failing (a compositor refusing every session while the screen is
// locked) would otherwise fill the log with a line every tick: one when it starts, one when it
// ends.
void AppDelegate::noteDelivery(const platform::Delivery& delivery) {
    if (delivery.delivered == !movesFailing_) {
        return;
    }
    movesFailing_ = !delivery.delivered;
    desktop_.console.printLine(movesFailing_ ? delivery.failure
                                             : "Pointer moves reach the desktop again");
}

} // namespace brimlow
