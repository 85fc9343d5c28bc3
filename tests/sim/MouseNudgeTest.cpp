#include "SimProgram.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

namespace brimlow::testing {
namespace {

using platform::Point;
using platform::sim::imageName;

// A program with its permission confirmed and the user idle past the threshold, so the
// first tick, 2 s after start, nudges.
struct MouseNudge : ::testing::Test {
    SimProgram p;

    static void SetUpTestSuite() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale::getUS(), status);
    }

    void SetUp() override {
        p.grantAccess();
        p.sim.preferences.values["idleseconds"] = "15";
        p.sim.idleClock.setIdleFor(60);
    }
    std::string countShown() { return p.ui().movedLbl().stringValue(); }
};

TEST_F(MouseNudge, MovesAwayAndBackOneSecondLater) {
    p.start();
    p.advance(2);
    EXPECT_EQ(p.sim.pointer.posted, (std::vector<Point>{{98, 102}}));
    p.advance(0.999);
    EXPECT_EQ(p.sim.pointer.posted.size(), 1u);
    p.advance(0.001);
    EXPECT_EQ(p.sim.pointer.posted, (std::vector<Point>{{98, 102}, {100, 100}}));
}

TEST_F(MouseNudge, TheReturnStartsFromWhereThePointerIsThen) {
    p.start();
    p.advance(2);
    p.sim.pointer.position = {500, 300};
    p.advance(1);
    EXPECT_EQ(p.sim.pointer.posted.back(), (Point{502, 298}));
}

TEST_F(MouseNudge, TheIconIsGreenOnlyWhileTheNudgeLasts) {
    p.start();
    p.advance(2);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon_green");
    p.advance(1);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
}

TEST_F(MouseNudge, HidingTheIconBeforeTheGreenSwitchRunsChangesNothing) {
    p.sim.idleClock.userInput(); // no tick of its own gets in the way
    p.start();
    p.delegate().nudgeMouse();
    p.ui().userClicksHideIcon(); // before the queued switch to green has run
    p.advance(0);
    EXPECT_TRUE(p.sim.statusBar.items.empty());
    EXPECT_EQ(p.sim.pointer.posted.size(), 1u);
    p.advance(1);
    EXPECT_EQ(p.sim.pointer.posted.size(), 2u);
    EXPECT_EQ(p.stored("movedcount"), "1");
}

TEST_F(MouseNudge, ShowingTheIconMidNudgeEndsWithTheNormalImage) {
    p.sim.preferences.values["hideicon"] = "1";
    p.start();
    p.advance(2);
    EXPECT_TRUE(p.sim.statusBar.items.empty());
    p.ui().userClicksHideIcon();
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
    p.advance(1);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
    EXPECT_EQ(p.sim.statusBar.itemsAdded, 1);
}

TEST_F(MouseNudge, CountsFromNothingWithoutASingularForm) {
    p.start();
    p.advance(3);
    EXPECT_EQ(p.stored("movedcount"), "1");
    EXPECT_EQ(countShown(), "\u24D8 Brimlow moved your mouse 1 times so far!");
}

TEST_F(MouseNudge, TheCountIsGroupedByLocaleAfterANudge) {
    p.sim.preferences.values["movedcount"] = "999";
    p.start();
    EXPECT_EQ(countShown(), "\u24D8 Brimlow moved your mouse 999 times so far!");
    p.advance(3);
    EXPECT_EQ(countShown(), "\u24D8 Brimlow moved your mouse 1,000 times so far!");
    EXPECT_EQ(p.stored("movedcount"), "1000");
}

TEST_F(MouseNudge, ACountChangedByAnotherProgramIsContinued) {
    p.sim.preferences.values["movedcount"] = "5";
    p.start();
    p.advance(2);
    p.sim.preferences.values["movedcount"] = "40";
    p.advance(1);
    EXPECT_EQ(p.stored("movedcount"), "41");
}

TEST_F(MouseNudge, TheCountStopsAtItsLargestValue) {
    p.sim.preferences.values["movedcount"] = "9223372036854775807";
    p.start();
    p.advance(3);
    EXPECT_EQ(p.stored("movedcount"), "9223372036854775807");
    EXPECT_EQ(countShown(),
              "\u24D8 Brimlow moved your mouse 9,223,372,036,854,775,807 times so far!");
}

// A compositor that refuses every move (GNOME while it inhibits remote access) is no nudge: nothing
// to count, show or undo, and one line when it starts refusing and one when it stops.
TEST_F(MouseNudge, MovesThatNeverLandAreNotCountedAndSaidOnceEachWay) {
    p.sim.pointer.delivers = false;
    p.sim.pointer.failure = "Could not open a remote desktop session: Session creation inhibited";
    p.start();
    for (int tick = 0; tick < 5; ++tick) {
        p.advance(2);
        EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
    }
    EXPECT_EQ(p.stored("movedcount"), "<absent>");
    EXPECT_EQ(countShown(), "\u24D8 Brimlow moved your mouse 0 times so far!");
    EXPECT_EQ(p.countOf(p.sim.pointer.failure), 1);

    p.sim.pointer.delivers = true;
    p.advance(3);
    EXPECT_EQ(p.sim.pointer.posted, (std::vector<Point>{{98, 102}, {100, 100}}));
    EXPECT_EQ(p.stored("movedcount"), "1");
    EXPECT_EQ(p.countOf("Pointer moves reach the desktop again"), 1);
    EXPECT_EQ(p.countOf(p.sim.pointer.failure), 1);
}

// The way back never overtakes the way out, however long the desktop takes to answer it.
TEST_F(MouseNudge, TheWayBackWaitsForALateAnswerToTheWayOut) {
    p.sim.pointer.answerDelay = 1.5;
    p.start();
    p.advance(2);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon") << "green before the desktop said yes";
    p.advance(1);
    EXPECT_EQ(p.sim.pointer.posted.size(), 1u);
    EXPECT_EQ(p.stored("movedcount"), "<absent>");
    p.advance(0.5);
    EXPECT_EQ(p.sim.pointer.posted, (std::vector<Point>{{98, 102}, {100, 100}}));
    EXPECT_EQ(p.stored("movedcount"), "1");
    p.advance(0);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
}

} // namespace
} // namespace brimlow::testing
