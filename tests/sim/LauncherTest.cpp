#include "SimProgram.h"
#include "launcher/AppDelegate.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using Paths = std::vector<std::string>;
const std::string brimlowId = "com.pellvane.Brimlow2";
const std::string launcherBundle = "/opt/B.app/Contents/Library/LoginItems/L.app";

// The launcher on the same simulated session as a program: they share the running
// applications and the notification center.
struct SimLauncher {
    explicit SimLauncher(SimProgram& session) : p(session) {
        bundle.path = launcherBundle;
        bundle.bundleIdentifier = "com.pellvane.BrimlowLauncher2";
    }
    void start() { application.main(delegate); }

    SimProgram& p;
    platform::sim::SimHelperApplication application;
    platform::sim::SimBundleInfo bundle;
    platform::HelperDesktop desktop{application, p.sim.workspace, p.sim.notifications, bundle};
    launcher::AppDelegate delegate{desktop};
};

TEST(Launcher, QuitsAtOnceWhenBrimlowRuns) {
    SimProgram p;
    p.sim.workspace.applications = {{"/x/Brimlow.app/Contents/MacOS/Brimlow 2", brimlowId}};
    SimLauncher launcher(p);
    launcher.start();
    EXPECT_TRUE(launcher.application.terminated);
    EXPECT_EQ(p.sim.notifications.observerCount(), 0u);
    EXPECT_TRUE(p.sim.workspace.launched.empty());
}

TEST(Launcher, ObservesBeforeItStartsBrimlowFoundByPosition) {
    const std::vector<std::pair<std::string, std::string>> layouts{
        {"/A/M.app/Contents/Library/LoginItems/L.app", "/A/M.app/Contents/MacOS/Brimlow 2"},
        {"/X/Contents/P/Q/L.app", "/X/Contents/MacOS/Brimlow 2"},
        {"/a b/M.app/Contents/Library/LoginItems/L.app/", "/a b/M.app/Contents/MacOS/Brimlow 2"},
        // Not inside a bundle: nothing to start, nothing to wait for.
        {"/L.app", ""},
    };
    for (const auto& [bundlePath, executable] : layouts) {
        SimProgram p;
        // Another program's bundle does not count, nor does a case-folded identifier.
        p.sim.workspace.applications = {{"/y/Other.app/Contents/MacOS/Other", "com.example.Other"},
                                        {"/z/b.app/Contents/MacOS/b", "com.pellvane.brimlow2"}};
        SimLauncher launcher(p);
        launcher.bundle.path = bundlePath;
        std::size_t observersAtLaunch = 0;
        p.sim.workspace.onLaunch = [&](auto&) {
            observersAtLaunch = p.sim.notifications.observerCount();
        };
        launcher.start();
        EXPECT_EQ(p.sim.workspace.launched, executable.empty() ? Paths{} : Paths{executable})
            << bundlePath;
        EXPECT_EQ(launcher.application.terminated, executable.empty()) << bundlePath;
        if (!executable.empty()) {
            EXPECT_EQ(observersAtLaunch, 1u) << bundlePath;
        }
    }
}

TEST(Launcher, OnlyBrimlowsQuitNotificationEndsAWaitingLauncher) {
    SimProgram p;
    SimLauncher launcher(p);
    launcher.start();
    p.sim.notifications.post("killLauncher", "com.pellvane.Brimlow");
    p.sim.notifications.post("killLauncher", "");
    p.sim.notifications.post("killlauncher", brimlowId);
    EXPECT_FALSE(launcher.application.terminated);
    p.sim.notifications.post("killLauncher", brimlowId);
    EXPECT_TRUE(launcher.application.terminated);
}

// The whole handshake at login: the launcher starts Brimlow, Brimlow finds it and ends it.
TEST(Launcher, BrimlowStartedByTheLauncherEndsIt) {
    SimProgram p;
    SimLauncher launcher(p);
    p.sim.workspace.applications = {
        {launcherBundle + "/Contents/MacOS/L", launcher.bundle.bundleIdentifier}};
    p.sim.workspace.onLaunch = [&](auto&) { p.start(); };
    launcher.start();
    ASSERT_EQ(p.sim.workspace.launched, Paths{"/opt/B.app/Contents/MacOS/Brimlow 2"});
    EXPECT_EQ(p.sim.loginItems.enabled, Paths{"com.pellvane.BrimlowLauncher2"});
    EXPECT_TRUE(launcher.application.terminated);
    EXPECT_EQ(p.sim.notifications.posted.size(), 1u);
}

} // namespace
} // namespace brimlow::testing
