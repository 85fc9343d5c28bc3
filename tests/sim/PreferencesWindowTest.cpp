#include "SimProgram.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::ActivationPolicy;

struct ThresholdCase {
    const char* stored;
    int shown;
};

void PrintTo(const ThresholdCase& c, std::ostream* out) { *out << '"' << c.stored << '"'; }

class StoredThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(StoredThreshold, SeedsTheStepperAndIsWrittenBack) {
    SimProgram p;
    p.sim.preferences.values["idleseconds"] = GetParam().stored;
    p.start();
    EXPECT_EQ(p.ui().idleStepper().intValue(), GetParam().shown);
    EXPECT_EQ(p.stored("idleseconds"), std::to_string(GetParam().shown));
    EXPECT_EQ(p.ui().idleDurationLabel().stringValue(),
              std::to_string(GetParam().shown) + " seconds");
}

INSTANTIATE_TEST_SUITE_P(
    BelowMinimumOrUnreadableMeansSixty, StoredThreshold,
    ::testing::Values(ThresholdCase{"14", 60}, ThresholdCase{"15", 15}, ThresholdCase{"0", 60},
                      ThresholdCase{"-30", 60}, ThresholdCase{"abc", 60},
                      ThresholdCase{"2147483648", 60}, ThresholdCase{"-4294967236", 60},
                      ThresholdCase{"99999999999999999999", 60}, ThresholdCase{"90", 90},
                      // Above the stepper's own maximum: the stepper's bound wins.
                      ThresholdCase{"2147483647", 3600}));

TEST(PreferencesWindow, StepperChangesAreStoredAtOnce) {
    SimProgram p;
    p.start();
    p.ui().userSetsStepper(45);
    EXPECT_EQ(p.stored("idleseconds"), "45");
    EXPECT_EQ(p.ui().idleDurationLabel().stringValue(), "45 seconds");
}

TEST(PreferencesWindow, ApplicationListHoldsRegularApplicationsInCodePointOrder) {
    SimProgram p;
    p.sim.workspace.applications = {
        SimProgram::app("/usr/bin/alpha"),
        SimProgram::app("/opt/Zeta/Zeta"),
        SimProgram::app("/usr/bin/tray-helper", ActivationPolicy::accessory),
        SimProgram::app("/usr/lib/firefox/firefox"),
        SimProgram::app("/home/u/bin/firefox"),
        // Decomposed "é" sorts as the composed one does: after every ASCII letter.
        SimProgram::app("/usr/bin/e\u0301diteur"),
        SimProgram::app("/usr/bin/editor"),
        {std::nullopt, std::nullopt, ActivationPolicy::regular},
    };
    p.start();
    EXPECT_EQ(p.ui().appRunningCombo().items(),
              (std::vector<std::string>{"Zeta", "alpha", "editor", "firefox", "firefox",
                                        "e\u0301diteur"}));
}

TEST(PreferencesWindow, ApplicationListIsRebuiltOnlyWhenTheWindowAppears) {
    SimProgram p;
    p.start();
    p.advance(1);
    ASSERT_TRUE(p.window().isVisible());
    p.sim.workspace.applications = {SimProgram::app("/usr/bin/gimp")};
    p.ui().userChoosesPreferences(); // already on screen
    EXPECT_TRUE(p.ui().appRunningCombo().items().empty());
    p.window().close();
    p.ui().userChoosesPreferences();
    EXPECT_EQ(p.ui().appRunningCombo().items(), std::vector<std::string>{"gimp"});
}

TEST(PreferencesWindow, ApplicationTextIsStoredUntrimmedOnConfirmAndOnClose) {
    SimProgram p;
    p.start();
    p.advance(1);
    p.ui().userTypesApp("  firefox \t");
    p.ui().userConfirmsApp();
    EXPECT_EQ(p.stored("apprunning"), "  firefox \t");
    EXPECT_EQ(p.countOf("appRunningComboEdited"), 1);

    p.ui().userTypesApp("gimp ");
    p.window().close();
    EXPECT_EQ(p.stored("apprunning"), "gimp ");
    EXPECT_EQ(p.countOf("appRunningComboEdited"), 2);

    p.ui().userChoosesPreferences();
    EXPECT_EQ(p.ui().appRunningCombo().stringValue(), "gimp ");
}

TEST(PreferencesWindow, ABundleNameIsShownEmptyAndReplacedWhenTheWindowCloses) {
    SimProgram p;
    p.sim.preferences.values["apprunning"] = "Safari.app";
    p.start();
    EXPECT_EQ(p.ui().appRunningCombo().stringValue(), "");
    EXPECT_EQ(p.stored("apprunning"), "Safari.app");
    p.advance(1);
    p.window().close();
    EXPECT_EQ(p.stored("apprunning"), "");
}

TEST(PreferencesWindow, OnlyAnExactDotAppEndingIsDropped) {
    for (const char* kept : {"Safari.APP", "app", "Safari.app ", ".application"}) {
        SimProgram p;
        p.sim.preferences.values["apprunning"] = kept;
        p.start();
        EXPECT_EQ(p.ui().appRunningCombo().stringValue(), kept);
    }
}

TEST(PreferencesWindow, CountLabelShowsTheStoredCountInPlainDigits) {
    SimProgram p;
    p.sim.preferences.values["movedcount"] = "1234";
    p.start();
    EXPECT_EQ(p.ui().movedLbl().stringValue(),
              "\u24D8 Brimlow moved your mouse 1234 times so far!");
}

TEST(PreferencesWindow, TheStepperHasFocusWhenTheWindowAppears) {
    SimProgram p;
    p.start();
    p.advance(1);
    EXPECT_EQ(p.window().firstResponder(), &p.ui().idleStepper());
}

} // namespace
} // namespace brimlow::testing
