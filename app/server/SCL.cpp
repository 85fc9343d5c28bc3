#include "SCL.h"

#include <utility>

namespace brimlow {

void SCL::showAlert(const platform::Desktop& desktop, const std::string& informativeText,
                    const std::string& messageText, std::function<void()> completion) {
    platform::Alert alert{messageText, informativeText, {}};
    desktop.mainQueue.async(
        [&alerts = desktop.alerts, alert = std::move(alert), completion = std::move(completion)] {
            alerts.runModal(alert);
            completion();
        });
}

} // namespace brimlow
