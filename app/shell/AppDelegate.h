#pragma once

#include "platform/Desktop.h"

#include <memory>

namespace brimlow {

// The program's side of its life: start-up, reopen, the idle check with its nudge, and the
// permission to post events.
class AppDelegate final : public platform::ApplicationDelegate {
public:
    AppDelegate(const platform::Desktop& desktop, platform::Window& window);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching() override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

    // Every tick of the idle timer.
    void checkIdle();
    void nudgeMouse();

    void applyPostEventAccess();
    void checkAccessibility();
    void requestAccessibility();
    void accessibilityChanged();
    void confirmAccessibility();
    void showGrantedState();
    void watchForWithdrawal();
    void showWithdrawnState();

    std::unique_ptr<platform::RepeatingTimer> timer;
    platform::Window* window;
    std::shared_ptr<platform::DistributedNotifications::Token> axObserver;
    std::shared_ptr<platform::DistributedNotifications::Token> withdrawalObserver;

private:
    struct Nudge;
    void wayOutAnswered(const std::shared_ptr<Nudge>& nudge, const platform::Delivery& delivery);
    void nudgeBack(const Nudge& nudge);
    void noteDelivery(const platform::Delivery& delivery);

    // Makes the launcher start at login and tells a running one to quit; asks the server for its
    // configuration, counts the launch and shows the version.
    void startServices();
    void registerLoginItem();
    void showPreferencesWindow();
    bool requiredApplicationRuns();

    const platform::Desktop& desktop_;
    bool movesFailing_ = false;
};

// The one application delegate, once start-up has begun.
extern AppDelegate* sharedDelegate;

} // namespace brimlow
