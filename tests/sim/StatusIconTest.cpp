#include "SimProgram.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::sim::imageName;

TEST(StatusIcon, ShownByDefaultWithImageTooltipAndMenu) {
    SimProgram p;
    p.start();
    ASSERT_EQ(p.sim.statusBar.items.size(), 1u);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
    EXPECT_EQ(p.statusItem()->toolTip, "Brimlow");
    EXPECT_EQ(p.statusItem()->menu, &p.ui().mnu());
    EXPECT_EQ(p.ui().hideIconCheckBox().state(), 0);
}

TEST(StatusIcon, HiddenAtLaunchThenShownByUnchecking) {
    SimProgram p;
    p.sim.preferences.values["hideicon"] = "1";
    p.start();
    EXPECT_TRUE(p.sim.statusBar.items.empty());
    EXPECT_EQ(p.ui().hideIconCheckBox().state(), 1);

    p.ui().userClicksHideIcon();
    EXPECT_EQ(p.stored("hideicon"), "0");
    ASSERT_EQ(p.sim.statusBar.items.size(), 1u);
    EXPECT_EQ(imageName(p.statusItem()->image), "trayicon");
    EXPECT_EQ(p.statusItem()->toolTip, "Brimlow");

    p.ui().userClicksHideIcon();
    EXPECT_EQ(p.stored("hideicon"), "1");
    EXPECT_TRUE(p.sim.statusBar.items.empty());
}

TEST(StatusIcon, OnlyExactlyOneHidesTheIcon) {
    for (const char* stored : {"2", "-1", "yes"}) {
        SimProgram p;
        p.sim.preferences.values["hideicon"] = stored;
        p.start();
        EXPECT_EQ(p.sim.statusBar.items.size(), 1u) << stored;
        EXPECT_EQ(p.stored("hideicon"), "0") << stored;
    }
}

TEST(StatusIcon, MissingArtworkLeavesAWorkingBlankIcon) {
    SimProgram p;
    p.sim.images.shipped.clear();
    p.start();
    ASSERT_EQ(p.sim.statusBar.items.size(), 1u);
    EXPECT_EQ(p.statusItem()->image, nullptr);
    EXPECT_EQ(p.statusItem()->toolTip, "Brimlow");
    EXPECT_EQ(p.statusItem()->menu, &p.ui().mnu());
}

} // namespace
} // namespace brimlow::testing
