#include "SimProgram.h"
#include "app/server/ServerUrls.h"
#include "app/server/UpdateCheck.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

TEST(ChosenServerHost, TheEnvironmentRedirectsABuildThatHasAServer) {
    EXPECT_EQ(chosenServerHost("brimlow.example.net", nullptr), "brimlow.example.net");
    EXPECT_EQ(chosenServerHost("brimlow.example.net", ""), "brimlow.example.net");
    EXPECT_EQ(chosenServerHost("brimlow.example.net", "127.0.0.1:8443"), "127.0.0.1:8443");
}

TEST(ChosenServerHost, NothingGivesAServerToABuildWithout) {
    EXPECT_EQ(chosenServerHost("", nullptr), "");
    EXPECT_EQ(chosenServerHost("", ""), "");
    EXPECT_EQ(chosenServerHost("", "staging.example.org:8443"), "");
}

// The program as built with -DBRIMLOW_SERVER_HOST= and started with the variable set, as a
// user might try to turn the requests back on.
class WithoutAServer : public ::testing::Test {
protected:
    void SetUp() override {
        builtIn_ = builtServerHost;
        builtServerHost = "";
        setenv("BRIMLOW_SERVER_HOST", "staging.example.org", 1);
        remoteConfig = RemoteConfig{};
    }
    void TearDown() override {
        builtServerHost = builtIn_;
        unsetenv("BRIMLOW_SERVER_HOST");
        remoteConfig = RemoteConfig{};
    }

    const std::string offLine = "Server requests are off: this build names no server";

private:
    std::string_view builtIn_;
};

TEST_F(WithoutAServer, AFirstStartSendsNothingAndSaysSoOnce) {
    SimProgram p;
    p.start();
    p.advance(60);
    EXPECT_TRUE(p.sim.http.sent.empty());
    EXPECT_EQ(p.countOf(offLine), 1);
    EXPECT_EQ(p.stored("launchcount"), "1");
    EXPECT_TRUE(p.sim.alerts.shown.empty());
    EXPECT_FALSE(p.sim.application.terminated);
}

TEST_F(WithoutAServer, TheUpdateCheckRunsAfterStartUpAsOffline) {
    // A configuration in force that offers 2.1 to this 2.0, so the check shows when it runs.
    remoteConfig.latestVersion = "2.1";
    SimProgram p;
    p.sim.alerts.answers.push_back({platform::alertFirstButtonReturn, 0});
    p.start();
    EXPECT_TRUE(p.sim.alerts.shown.empty()) << "start-up must not wait for the check";
    p.advance(0);
    ASSERT_EQ(p.sim.alerts.shown.size(), 1u);
    EXPECT_EQ(p.sim.alerts.shown[0].alert.messageText, "App update available");
    // "Download now" has no page to open on a server this build does not know.
    EXPECT_TRUE(p.sim.urls.opened.empty());
    EXPECT_TRUE(p.sim.http.sent.empty());
}

} // namespace
} // namespace brimlow::testing
