#include "SimProgram.h"
#include "app/server/UpdateCheck.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using Lines = std::vector<std::string>;
const std::string launcherId = "com.pellvane.BrimlowLauncher2";

class StartupServices : public ::testing::Test {
protected:
    void SetUp() override { remoteConfig = RemoteConfig{}; }
    void TearDown() override { remoteConfig = RemoteConfig{}; }

    std::vector<std::string> sentPaths(SimProgram& p) {
        std::vector<std::string> paths;
        for (const auto& sent : p.sim.http.sent) {
            const std::string& url = sent.request.url;
            std::size_t path = url.find('/', url.find("://") + 3);
            paths.push_back(url.substr(path, url.find('?') - path));
        }
        return paths;
    }
};

TEST_F(StartupServices, TheFirstStartReportsItselfOnceAndCountsOne) {
    SimProgram p;
    p.start();
    EXPECT_EQ(sentPaths(p), (Lines{"/configapp/brimlow.php", "/logistics/ln.php"}));
    EXPECT_NE(p.sim.http.sent.at(1).request.url.find("?cat=brimlow&evtname=First%20launch&evtval="
                                                     "&notes=&device="),
              std::string::npos);
    EXPECT_EQ(p.stored("launchcount"), "1");

    SimProgram second;
    second.sim.preferences.values = p.sim.preferences.values;
    second.start();
    EXPECT_EQ(sentPaths(second), Lines{"/configapp/brimlow.php"});
    EXPECT_EQ(second.stored("launchcount"), "2");
}

TEST_F(StartupServices, TheCountIsReadAgainAndItsWriteIsTheOnlyOne) {
    SimProgram p;
    p.sim.preferences.values["launchcount"] = "41";
    p.start();
    EXPECT_EQ(sentPaths(p), Lines{"/configapp/brimlow.php"});
    int launchWrites = 0;
    for (const auto& [key, value] : p.sim.preferences.writes) {
        launchWrites += key == "launchcount";
    }
    EXPECT_EQ(launchWrites, 1);
    EXPECT_EQ(p.stored("launchcount"), "42");
}

TEST_F(StartupServices, ACountAtItsLargestValueStaysThere) {
    SimProgram p;
    p.sim.preferences.values["launchcount"] = "9223372036854775807";
    p.start();
    EXPECT_EQ(p.stored("launchcount"), "9223372036854775807");
}

TEST_F(StartupServices, TheVersionFollowsTheTitleAfterOneBlank) {
    SimProgram p;
    p.start();
    EXPECT_EQ(p.window().title(), "Brimlow 2.0");
}

TEST_F(StartupServices, StartUpDoesNotWaitForTheServer) {
    SimProgram p;
    p.start();
    // Neither request has ended, yet start-up went on: the window comes up on time and the
    // idle ticks run.
    p.advance(2);
    EXPECT_TRUE(p.window().isVisible());
    EXPECT_EQ(p.sim.console.lines(), (Lines{"true", "2.0"}));
    EXPECT_TRUE(p.sim.alerts.shown.empty());
}

TEST_F(StartupServices, WithoutANetworkVersion2Point0CarriesOn) {
    SimProgram p;
    p.start();
    for (auto& sent : p.sim.http.sent) {
        sent.completed({"Could not resolve host", std::nullopt});
    }
    p.advance(1);
    EXPECT_TRUE(p.sim.alerts.shown.empty());
    EXPECT_FALSE(p.sim.application.terminated);
    EXPECT_EQ(p.countOf("Could not resolve host"), 2);
}

TEST_F(StartupServices, WithNoLauncherRunningTheLoginItemIsEnabledAndNothingPosted) {
    SimProgram p;
    // A launcher that starts once they have been counted finds the program and quits itself.
    p.sim.loginItems.onEnable = [&] {
        p.sim.workspace.applications.push_back({"/L.app/Contents/MacOS/L", launcherId});
    };
    p.start();
    EXPECT_EQ(p.sim.loginItems.enabled, Lines{launcherId});
    EXPECT_EQ(p.sim.console.lines().at(0), "true");
    EXPECT_TRUE(p.sim.notifications.posted.empty());
}

TEST_F(StartupServices, RunningLaunchersAreToldToQuitOnceAfterTheLoginItemIsEnabled) {
    SimProgram p;
    p.sim.workspace.applications = {{"/A/L.app/Contents/MacOS/L", launcherId},
                                    {"/usr/bin/launcher", std::nullopt},
                                    {"/B/l.app/Contents/MacOS/l", "com.pellvane.brimlowlauncher2"},
                                    {"/C/L.app/Contents/MacOS/L", launcherId}};
    std::size_t postedBeforeEnable = 99;
    p.sim.loginItems.onEnable = [&] { postedBeforeEnable = p.sim.notifications.posted.size(); };
    p.start();
    EXPECT_EQ(postedBeforeEnable, 0u);
    ASSERT_EQ(p.sim.notifications.posted.size(), 1u);
    EXPECT_EQ(p.sim.notifications.posted[0].name, "killLauncher");
    EXPECT_EQ(p.sim.notifications.posted[0].object, "com.pellvane.Brimlow2");
}

TEST_F(StartupServices, ALoginItemThatCannotBeEnabledIsReportedAndStartUpGoesOn) {
    SimProgram p;
    p.sim.loginItems.answer = {false, "Cannot write the autostart entry: read-only file system"};
    p.sim.workspace.applications = {{"/A/L.app/Contents/MacOS/L", launcherId}};
    p.start();
    p.advance(2);
    EXPECT_EQ(p.sim.console.lines(),
              (Lines{"false", "Cannot write the autostart entry: read-only file system", "2.0"}));
    EXPECT_EQ(p.sim.notifications.posted.size(), 1u);
    EXPECT_EQ(sentPaths(p), (Lines{"/configapp/brimlow.php", "/logistics/ln.php"}));
    EXPECT_EQ(p.window().title(), "Brimlow 2.0");
}

TEST_F(StartupServices, ARequiredUpdateQuitsAfterOpeningTheDownloadPage) {
    SimProgram p;
    p.sim.preferences.values["launchcount"] = "3";
    p.start();
    // minimum 2.1, latest 2.1
    p.sim.http.sent.at(0).completed({std::nullopt, "fauM2buZWanpgbvpgMuEjCy4SM"});
    p.advance(0);
    EXPECT_EQ(p.countOf("config loaded"), 1);
    ASSERT_EQ(p.sim.alerts.shown.size(), 1u);
    EXPECT_EQ(p.sim.alerts.shown[0].alert.messageText, "App update required");
    ASSERT_EQ(p.sim.urls.opened.size(), 1u);
    EXPECT_TRUE(p.sim.urls.opened[0].ends_with("/brimlow/"));
    EXPECT_TRUE(p.sim.application.terminated);
}

} // namespace
} // namespace brimlow::testing
