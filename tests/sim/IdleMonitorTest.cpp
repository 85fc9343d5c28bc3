#include "SimProgram.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::ActivationPolicy;

// A program whose permission is confirmed, with threshold 30 s, just before its first tick.
struct IdleMonitor : ::testing::Test {
    SimProgram p;

    void SetUp() override {
        p.grantAccess();
        p.sim.preferences.values["idleseconds"] = "30";
        p.sim.preferences.values["movedcount"] = "1";
    }
    // Runs exactly one tick with the user idle for `seconds` at that tick.
    std::size_t nudgesAtTickWithIdle(double seconds) {
        p.advance(1.5);
        p.sim.idleClock.setIdleFor(seconds - 0.5);
        std::size_t before = p.sim.pointer.posted.size();
        p.advance(0.5);
        return p.sim.pointer.posted.size() - before;
    }
};

TEST_F(IdleMonitor, NudgesFromTheThresholdOnNotBefore) {
    p.start();
    EXPECT_EQ(nudgesAtTickWithIdle(29.99), 0u);
    EXPECT_EQ(nudgesAtTickWithIdle(30.0), 1u);
    EXPECT_EQ(nudgesAtTickWithIdle(31.0), 1u) << "every tick past the threshold nudges again";
}

TEST_F(IdleMonitor, PrintsTheIdleTimeAsTheShortestExactDecimal) {
    p.start();
    for (double idle : {3.0, 2.5, 0.0, 22.035, 4.25, 17.0034567891, 99999.999, 1e5}) {
        nudgesAtTickWithIdle(idle);
    }
    EXPECT_EQ(p.sim.console.tickLines(),
              (std::vector<std::string>{"3.0", "2.5", "0.0", "22.035", "4.25", "17.0034567891",
                                        "99999.999", "1e+05"}));
    // Only the idle lines may be left out of a log that keeps every line.
    EXPECT_EQ(p.sim.console.lines().size(), p.sim.console.tickLines().size() + 1);
}

TEST_F(IdleMonitor, NoNudgeWhileTheWarningIsShownButTheLineIsStillPrinted) {
    p.sim.postEventAccess.answer = platform::Access::denied;
    p.sim.preferences.values["apprunning"] = "firefox";
    p.sim.workspace.applications = {SimProgram::app("/usr/bin/firefox")};
    p.start();
    p.advance(1.5);
    int walksBefore = p.sim.workspace.walks;
    p.sim.idleClock.setIdleFor(99.5);
    p.advance(0.5);
    EXPECT_TRUE(p.sim.pointer.posted.empty());
    EXPECT_EQ(p.sim.console.tickLines(), std::vector<std::string>{"100.0"});
    EXPECT_EQ(p.sim.workspace.walks, walksBefore) << "the walk comes after the permission gate";
}

TEST_F(IdleMonitor, NoApplicationIsWalkedWhileTheUserIsActive) {
    p.sim.preferences.values["apprunning"] = "firefox";
    p.start();
    int walksAtStart = p.sim.workspace.walks;
    nudgesAtTickWithIdle(5);
    EXPECT_EQ(p.sim.workspace.walks, walksAtStart);
}

TEST_F(IdleMonitor, MatchesTheExecutableNameAfterTrimming) {
    p.sim.workspace.applications = {
        SimProgram::app("/usr/lib/firefox/firefox"),
        // A background program counts, though the window's list doesn't offer it.
        SimProgram::app("/usr/bin/syncd", ActivationPolicy::accessory),
        // Found by its executable, not by what its bundle or window is called.
        SimProgram::app("/Apps/Mail Client.app/Contents/MacOS/mailer"),
        {std::nullopt, std::nullopt, ActivationPolicy::regular},
    };
    p.start();
    struct Case {
        std::string typed;
        std::size_t nudges;
    };
    for (const Case& c :
         {Case{"firefox", 1}, Case{"firefox ", 1}, Case{"\u2003firefox\u2029\n", 1},
          Case{"Firefox", 0}, Case{"fire", 0}, Case{"syncd", 1}, Case{"mailer", 1},
          Case{"Mail Client", 0}, Case{"Mail Client.app", 0}, Case{"   ", 0}, Case{"", 1}}) {
        // Typed but not saved: the tick reads the live field.
        p.ui().userTypesApp(c.typed);
        EXPECT_EQ(nudgesAtTickWithIdle(40), c.nudges) << "typed: '" << c.typed << "'";
    }
}

TEST_F(IdleMonitor, CanonicallyEquivalentNamesMatch) {
    p.sim.workspace.applications = {SimProgram::app("/usr/bin/caf\u00e9")};
    p.start();
    p.ui().userTypesApp("cafe\u0301");
    EXPECT_EQ(nudgesAtTickWithIdle(40), 1u);
}

TEST_F(IdleMonitor, TwoMatchingApplicationsStillNudgeOnce) {
    p.sim.workspace.applications = {SimProgram::app("/a/editor"), SimProgram::app("/b/editor")};
    p.start();
    p.ui().userTypesApp("editor");
    EXPECT_EQ(nudgesAtTickWithIdle(40), 1u);
}

TEST_F(IdleMonitor, StepperChangesTakeEffectAtTheNextTick) {
    p.start();
    EXPECT_EQ(nudgesAtTickWithIdle(20), 0u);
    p.ui().userSetsStepper(15);
    EXPECT_EQ(nudgesAtTickWithIdle(20), 1u);
}

// However long the lunch break, a locked screen is left alone; once unlocked, the next idle spell
// is nudged with nothing for the user to do.
TEST_F(IdleMonitor, NoNudgeWhileTheSessionIsLockedAndNudgingResumesAfter) {
    p.sim.preferences.values["apprunning"] = "firefox";
    p.sim.workspace.applications = {SimProgram::app("/usr/bin/firefox")};
    p.start();
    p.sim.sessionLock.setLocked(true);
    const int walksBefore = p.sim.workspace.walks;
    for (double idle : {30.0, 600.0, 3600.0}) {
        EXPECT_EQ(nudgesAtTickWithIdle(idle), 0u) << "idle " << idle << " s";
    }
    EXPECT_EQ(p.sim.workspace.walks, walksBefore) << "the walk comes after the lock gate";
    EXPECT_EQ(p.sim.console.tickLines().size(), 3u);
    EXPECT_EQ(p.stored("movedcount"), "1");

    p.sim.sessionLock.setLocked(false);
    EXPECT_EQ(nudgesAtTickWithIdle(5), 0u);
    EXPECT_EQ(nudgesAtTickWithIdle(30), 1u);
    p.advance(1);
    EXPECT_EQ(p.stored("movedcount"), "2");
}

// A lock that comes between the halves must not leave the pointer off by the way out.
TEST_F(IdleMonitor, ALockAfterTheWayOutStillLetsTheWayBackGo) {
    p.start();
    EXPECT_EQ(nudgesAtTickWithIdle(40), 1u);
    p.sim.sessionLock.setLocked(true);
    p.advance(1);
    EXPECT_EQ(p.sim.pointer.posted, (std::vector<platform::Point>{{98, 102}, {100, 100}}));
    EXPECT_EQ(p.stored("movedcount"), "2");
    EXPECT_EQ(nudgesAtTickWithIdle(40), 0u);
}

} // namespace
} // namespace brimlow::testing
