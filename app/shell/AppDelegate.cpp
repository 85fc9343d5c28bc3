#include "AppDelegate.h"

#include "app/ui/MainVC.h"
#include "app/ui/PreferenceKeys.h"

namespace brimlow {

AppDelegate* sharedDelegate = nullptr;

namespace {
constexpr double idleCheckInterval = 2.0;
constexpr double firstWindowDelay = 1.0;
} // namespace

AppDelegate::AppDelegate(const platform::Desktop& desktop, platform::Window& mainWindow)
    : window(&mainWindow), desktop_(desktop) {}

AppDelegate::~AppDelegate() {
    if (sharedDelegate == this) {
        sharedDelegate = nullptr;
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    sharedDelegate = this;
    desktop_.application.setActivationPolicy(platform::ActivationPolicy::accessory);
    startServices();
    applyPostEventAccess();
    watchForWithdrawal();
    timer = desktop_.timers.scheduleRepeating(idleCheckInterval, [this] { checkIdle(); });

    // A user who has seen a nudge and has nothing left to grant doesn't need the window.
    bool nudgedBefore = desktop_.preferences.integerForKey(keys::movedCount) != 0;
    bool permissionConfirmed = mainVC != nullptr && mainVC->exclaimBtn->isHidden();
    if (!(nudgedBefore && permissionConfirmed)) {
        desktop_.mainQueue.asyncAfter(firstWindowDelay, [this] { showPreferencesWindow(); });
    }
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
    showPreferencesWindow();
    return true;
}

void AppDelegate::showPreferencesWindow() {
    if (mainVC != nullptr) {
        mainVC->showprefWindow();
    }
}

} // namespace brimlow
