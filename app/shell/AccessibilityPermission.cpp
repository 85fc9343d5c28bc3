#include "AppDelegate.h"
#include "app/server/SCL.h"
#include "app/ui/MainVC.h"

namespace brimlow {
namespace {

const char* const accessibilityNotification = platform::accessChangedNotification;
const char* const permissionTitle = "Accessibility permission needed";
constexpr double confirmDelay = 0.1;

// The desktop's own words stand where another desktop's would.
std::string requestMessage(platform::PostEventAccess& access) {
    return "Brimlow needs the accessibility permission to post mouse clicks on your behalf. " +
           access.requestOutcome();
}

std::string deniedMessage(platform::PostEventAccess& access) {
    return "If you have already granted the permission, please quit and relaunch the app. "
           "Otherwise grant this permission from " +
           access.grantPlace() + " and then restart the app.";
}

} // namespace

void AppDelegate::applyPostEventAccess() {
    if (desktop_.postEventAccess.check() == platform::Access::granted) {
        showGrantedState();
    }
}

// A grant that arrives without a pending request is only recorded at the next start.
void AppDelegate::checkAccessibility() {
    switch (desktop_.postEventAccess.check()) {
    case platform::Access::undecided:
        SCL::showAlert(desktop_, requestMessage(desktop_.postEventAccess), permissionTitle,
                       [this] { requestAccessibility(); });
        break;
    case platform::Access::denied:
        SCL::showAlert(desktop_, deniedMessage(desktop_.postEventAccess), permissionTitle, [] {});
        break;
    case platform::Access::granted:
        break;
    }
}

void AppDelegate::requestAccessibility() {
    desktop_.postEventAccess.request();
    axObserver = desktop_.notifications.addObserver(accessibilityNotification, std::nullopt,
                                                    [this] { accessibilityChanged(); });
}

// May run on any thread.
void AppDelegate::accessibilityChanged() {
    desktop_.mainQueue.asyncAfter(confirmDelay, [this] { confirmAccessibility(); });
}

void AppDelegate::confirmAccessibility() {
    if (!desktop_.postEventAccess.isTrusted()) {
        return;
    }
    desktop_.notifications.removeObserver(axObserver, accessibilityNotification);
    showGrantedState();
}

void AppDelegate::showGrantedState() {
    if (mainVC != nullptr) {
        mainVC->exclaimBtn->setHidden(true);
        mainVC->movedLbl->setHidden(false);
    }
}

// Some desktops let the user take the permission back while the program runs (a stop button on
// a screen-sharing indicator). The warning comes back and nudging stops until the user asks
// again through it; nothing is retried behind the user's back.
void AppDelegate::watchForWithdrawal() {
    withdrawalObserver =
        desktop_.notifications.addObserver(accessibilityNotification, std::nullopt, [this] {
            desktop_.mainQueue.async([this] { showWithdrawnState(); });
        });
}

void AppDelegate::showWithdrawnState() {
    if (mainVC == nullptr || !mainVC->exclaimBtn->isHidden() ||
        desktop_.postEventAccess.isTrusted()) {
        return;
    }
    mainVC->exclaimBtn->setHidden(false);
    mainVC->movedLbl->setHidden(true);
}

} // namespace brimlow
