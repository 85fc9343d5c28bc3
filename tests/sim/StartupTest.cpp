#include "SimProgram.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::Access;
using platform::ActivationPolicy;

TEST(Startup, FirstStartShowsTheWindowOneSecondLaterWithDefaults) {
    SimProgram p;
    p.grantAccess(); // a first start shows the window even when posting is already allowed
    p.start();

    EXPECT_EQ(p.ui().idleStepper().intValue(), 60);
    EXPECT_EQ(p.ui().idleDurationLabel().stringValue(), "60 seconds");
    EXPECT_EQ(p.stored("idleseconds"), "60");
    EXPECT_EQ(p.stored("hideicon"), "0");
    EXPECT_EQ(p.stored("movedcount"), "<absent>");
    EXPECT_EQ(p.ui().appRunningCombo().stringValue(), "");
    EXPECT_EQ(p.ui().movedLbl().stringValue(), "\u24D8 Brimlow moved your mouse 0 times so far!");

    p.advance(0.99);
    EXPECT_FALSE(p.window().isVisible());
    p.advance(0.01);
    EXPECT_TRUE(p.window().isVisible());
    EXPECT_EQ(p.sim.application.activations, 1);
}

TEST(Startup, LaterStartWithNudgesAndPermissionStaysInTheTray) {
    SimProgram p;
    p.sim.preferences.values["movedcount"] = "3";
    p.grantAccess();
    p.start();

    // The record is in place before the first tick could read it.
    EXPECT_TRUE(p.ui().exclaimBtn().isHidden());
    EXPECT_FALSE(p.ui().movedLbl().isHidden());
    p.advance(5);
    EXPECT_FALSE(p.window().isVisible());
    EXPECT_TRUE(p.sim.alerts.shown.empty());
    EXPECT_EQ(p.sim.postEventAccess.requests, 0);
    EXPECT_EQ(p.delegate().axObserver, nullptr);
}

TEST(Startup, LaterStartWithoutPermissionShowsTheWarning) {
    for (Access answer : {Access::denied, Access::undecided}) {
        SimProgram p;
        p.sim.preferences.values["movedcount"] = "3";
        p.sim.postEventAccess.answer = answer;
        p.start();

        p.advance(1);
        EXPECT_TRUE(p.window().isVisible());
        EXPECT_FALSE(p.ui().exclaimBtn().isHidden());
        EXPECT_TRUE(p.ui().movedLbl().isHidden());
        EXPECT_TRUE(p.sim.alerts.shown.empty()) << "no alert unless the user asks";
    }
}

TEST(Startup, TheProgramIsATrayAccessoryExceptWhileItsWindowIsUp) {
    SimProgram p;
    p.start();
    // Loading the window counts as it appearing; start-up then goes back to the tray.
    EXPECT_EQ(p.sim.application.policies,
              (std::vector{ActivationPolicy::regular, ActivationPolicy::accessory}));

    p.advance(1);
    EXPECT_EQ(p.sim.application.activationPolicy(), ActivationPolicy::regular);
    p.window().close();
    EXPECT_EQ(p.sim.application.activationPolicy(), ActivationPolicy::accessory);
    p.ui().userChoosesPreferences();
    EXPECT_EQ(p.sim.application.activationPolicy(), ActivationPolicy::regular);
    EXPECT_TRUE(p.window().isVisible());
}

TEST(Startup, ReopeningBringsTheWindowForwardWhateverIsVisible) {
    SimProgram p;
    p.sim.preferences.values["movedcount"] = "3";
    p.grantAccess();
    p.start();
    p.advance(2);
    ASSERT_FALSE(p.window().isVisible());

    EXPECT_TRUE(p.sim.application.reopen(false));
    EXPECT_TRUE(p.window().isVisible());
    EXPECT_TRUE(p.sim.application.reopen(true));
    EXPECT_EQ(p.window().timesOrderedFront(), 2);
    EXPECT_EQ(p.sim.application.activations, 2);
}

TEST(Startup, ASecondCopyHandsOverWithoutLoadingAnything) {
    SimProgram p;
    p.sim.application.anotherCopyRuns = true;
    p.start();
    EXPECT_TRUE(p.sim.application.handedOver);
    EXPECT_EQ(p.program->mainVC(), nullptr);
    EXPECT_TRUE(p.sim.preferences.writes.empty());
}

TEST(Startup, TheFirstIdleTickComesTwoSecondsAfterStartThenEveryTwo) {
    SimProgram p;
    p.start();
    p.advance(1.999);
    EXPECT_TRUE(p.sim.console.tickLines().empty());
    p.advance(0.001);
    EXPECT_EQ(p.sim.console.tickLines(), std::vector<std::string>{"2.0"});
    p.advance(4);
    EXPECT_EQ(p.sim.console.tickLines(), (std::vector<std::string>{"2.0", "4.0", "6.0"}));
}

} // namespace
} // namespace brimlow::testing
