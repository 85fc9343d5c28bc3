#include "SimProgram.h"

#include <gtest/gtest.h>
#include <thread>

namespace brimlow::testing {
namespace {

using platform::Access;

const char* const notificationName = "com.apple.accessibility.api";
// The desktop's words (here the simulated one's) stand in the program's sentences.
const char* const requestMessage =
    "Brimlow needs the accessibility permission to post mouse clicks on your behalf. The "
    "simulated desktop now asks you.";
const char* const deniedMessage =
    "If you have already granted the permission, please quit and relaunch the app. Otherwise "
    "grant this permission from the simulated settings and then restart the app.";
// The observer that watches for a withdrawn permission is there all along.
constexpr std::size_t withdrawalObservers = 1;

struct Permission : ::testing::Test {
    SimProgram p;

    void SetUp() override { p.sim.postEventAccess.answer = Access::undecided; }
    void press() {
        p.ui().userPressesExclaimBtn();
        p.advance(0);
    }
    bool granted() { return p.ui().exclaimBtn().isHidden() && !p.ui().movedLbl().isHidden(); }
};

TEST_F(Permission, AnUndecidedPressExplainsThenRequestsAndWatches) {
    p.start();
    press();
    ASSERT_EQ(p.sim.alerts.shown.size(), 1u);
    EXPECT_EQ(p.sim.alerts.shown[0].alert.messageText, "Accessibility permission needed");
    EXPECT_EQ(p.sim.alerts.shown[0].alert.informativeText, requestMessage);
    EXPECT_EQ(p.sim.postEventAccess.requests, 1);
    EXPECT_EQ(p.sim.notifications.observerCount(), withdrawalObservers + 1);
    EXPECT_NE(p.delegate().axObserver, nullptr);
    EXPECT_FALSE(granted());
}

TEST_F(Permission, TheRequestWaitsUntilTheAlertIsClosed) {
    p.sim.alerts.onShow = [&](const platform::Alert&) {
        EXPECT_EQ(p.sim.postEventAccess.requests, 0);
    };
    p.start();
    press();
    EXPECT_EQ(p.sim.postEventAccess.requests, 1);
}

TEST_F(Permission, ADeniedPressExplainsAndDoesNothingElse) {
    p.sim.postEventAccess.answer = Access::denied;
    p.start();
    press();
    ASSERT_EQ(p.sim.alerts.shown.size(), 1u);
    EXPECT_EQ(p.sim.alerts.shown[0].alert.informativeText, deniedMessage);
    EXPECT_EQ(p.sim.postEventAccess.requests, 0);
    EXPECT_EQ(p.sim.notifications.observerCount(), withdrawalObservers);
    EXPECT_FALSE(granted());
}

TEST_F(Permission, APressAfterAnUnnoticedGrantChangesNothing) {
    p.start();
    p.grantAccess();
    press();
    EXPECT_TRUE(p.sim.alerts.shown.empty());
    EXPECT_FALSE(granted()) << "recorded at the next start";
}

TEST_F(Permission, ANotificationWhileStillUntrustedChecksAgainLater) {
    p.start();
    press();
    p.sim.notifications.post(notificationName, "com.apple.accessibility");
    p.advance(0.1);
    EXPECT_FALSE(granted());
    EXPECT_TRUE(p.sim.notifications.removals.empty());

    p.sim.postEventAccess.trusted = true;
    p.sim.notifications.post(notificationName, "com.apple.accessibility");
    p.advance(0.099);
    EXPECT_FALSE(granted()) << "the check waits a tenth of a second";
    p.advance(0.001);
    EXPECT_TRUE(granted());
    ASSERT_EQ(p.sim.notifications.removals.size(), 1u);
    EXPECT_EQ(p.sim.notifications.removals[0].first, p.delegate().axObserver);
    EXPECT_EQ(p.sim.notifications.removals[0].second, notificationName);
}

TEST_F(Permission, TheNotificationMayArriveOnAnotherThread) {
    p.start();
    press();
    p.sim.postEventAccess.trusted = true;
    std::thread([&] {
        p.sim.notifications.post(notificationName, "com.apple.accessibility");
    }).join();
    EXPECT_FALSE(granted()) << "nothing changes off the main thread";
    p.advance(0.1);
    EXPECT_TRUE(granted());
}

TEST_F(Permission, TwoPressesBeforeTheGrantLeaveTheFirstObserverInPlace) {
    p.start();
    press();
    auto first = p.delegate().axObserver;
    press();
    auto second = p.delegate().axObserver;
    EXPECT_EQ(p.sim.alerts.shown.size(), 2u);
    EXPECT_EQ(p.sim.postEventAccess.requests, 2);
    EXPECT_NE(first, second);
    EXPECT_EQ(p.sim.notifications.observerCount(), withdrawalObservers + 2);

    p.sim.postEventAccess.trusted = true;
    p.sim.notifications.post(notificationName, "com.apple.accessibility");
    p.advance(0.1);
    EXPECT_TRUE(granted());
    // Each observer confirmed; both removals name the token held last.
    ASSERT_EQ(p.sim.notifications.removals.size(), 2u);
    EXPECT_EQ(p.sim.notifications.removals[0].first, second);
    EXPECT_EQ(p.sim.notifications.removals[1].first, second);
    EXPECT_EQ(p.sim.notifications.observerCount(), withdrawalObservers + 1)
        << "the first observer is never removed";
}

TEST_F(Permission, TheGrantLetsTheNextTickNudge) {
    p.sim.preferences.values["idleseconds"] = "15";
    p.sim.idleClock.setIdleFor(100);
    p.start();
    p.advance(2);
    EXPECT_TRUE(p.sim.pointer.posted.empty());
    press();
    p.sim.postEventAccess.trusted = true;
    p.sim.notifications.post(notificationName, "com.apple.accessibility");
    p.advance(2);
    EXPECT_EQ(p.sim.pointer.posted.size(), 1u);
}

// The user stops remote input from the desktop's indicator: the warning is back, nudging stops,
// and only the user's own request through the warning starts it again.
TEST_F(Permission, AWithdrawnPermissionStopsNudgingUntilTheUserAsksAgain) {
    p.grantAccess();
    p.sim.preferences.values["idleseconds"] = "15";
    p.sim.idleClock.setIdleFor(100);
    p.start();
    p.advance(2);
    ASSERT_TRUE(granted());
    ASSERT_EQ(p.sim.pointer.posted.size(), 1u);

    p.sim.postEventAccess.trusted = false;
    p.sim.postEventAccess.answer = Access::undecided;
    p.sim.notifications.post(notificationName, "com.pellvane.Brimlow2");
    p.advance(2);
    EXPECT_FALSE(p.ui().exclaimBtn().isHidden());
    EXPECT_TRUE(p.ui().movedLbl().isHidden());
    EXPECT_EQ(p.sim.pointer.posted.size(), 2u) << "only the first nudge's way back";
    EXPECT_EQ(p.sim.postEventAccess.requests, 0);

    press();
    EXPECT_EQ(p.sim.postEventAccess.requests, 1);
    p.sim.postEventAccess.trusted = true;
    p.sim.notifications.post(notificationName, "com.pellvane.Brimlow2");
    p.advance(2);
    EXPECT_TRUE(granted());
    EXPECT_EQ(p.sim.pointer.posted.size(), 3u);
}

} // namespace
} // namespace brimlow::testing
