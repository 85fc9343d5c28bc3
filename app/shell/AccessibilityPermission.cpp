#include "AppDelegate.h"
#include "app/server/SCL.h"
#include "app/ui/MainVC.h"

namespace brimlow {
namespace {

const char* const accessibilityNotification = "com.apple.accessibility.api";
const char* const permissionTitle = "Accessibility permission needed";
const char* const requestMessage =
    "Brimlow needs the accessibility permission to post mouse clicks on your behalf. MacOS will "
    "now prompt you to provide this permission.";
const char* const deniedMessage =
    "If you have already granted the permission, please quit and relaunch the app. Otherwise "
    "grant this permission from System Preferences \u2192 Security & Privacy \u2192 "
    "Accessibility and then restart the app.";
constexpr double confirmDelay = 0.1;

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
        SCL::showAlert(desktop_, requestMessage, permissionTitle,
                       [this] { requestAccessibility(); });
        break;
    case platform::Access::denied:
        SCL::showAlert(desktop_, deniedMessage, permissionTitle, [] {});
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

} // namespace brimlow
