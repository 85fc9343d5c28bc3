#include "app/server/RemoteConfig.h"

#include "app/server/SCL.h"
#include "app/server/UpdateCheck.h"
#include "platform/sim/SimDesktop.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using Lines = std::vector<std::string>;

RemoteConfig config(std::string minimum, std::string latest, std::string setting = "no") {
    return {"config", std::move(setting), std::move(minimum), std::move(latest)};
}

std::optional<RemoteConfig> fromReply(std::string_view reply) {
    return parsedConfigText(unscrambledConfigText(reply));
}

// Replies made independently of this code, as the server makes them.
TEST(ConfigReply, KnownRepliesDecodeWhateverTheirPadding) {
    EXPECT_EQ(fromReply("fauM2buZWanpgbvpQMuEjCy4SM"), config("1.1", "2.1"));
    EXPECT_EQ(fromReply("j9mbml2ZKkXZzpQMuEjCy4SM"), config("1.1", "2.1", "yes"));
    EXPECT_EQ(fromReply("faufauwYv5mZpdmCu9mCx4SMKIjLx4SM"), config("1.1", "2.1.1"));
    EXPECT_EQ(fromReply("j9mbml2ZK42bKEjL5oQMuEDM"), config("1.9", "1.10"));
}

TEST(ConfigReply, EncodingGivesTheServersReplies) {
    EXPECT_EQ(scrambledConfigText("config\nno\n1.1\n2.1"), "fauM2buZWanpgbvpQMuEjCy4SM");
    EXPECT_EQ(scrambledConfigText("config\nyes\n1.1\n2.1"), "j9mbml2ZKkXZzpQMuEjCy4SM");
    EXPECT_EQ(scrambledConfigText("config\nno\n1.1\n2.1.1"), "faufauwYv5mZpdmCu9mCx4SMKIjLx4SM");
    EXPECT_EQ(scrambledConfigText("config\r\nno\r\n1.1\r\n2.1"), "fauM2buZWanpQDu9mCNEjLxoQDy4SM");
}

TEST(ConfigReply, FauInsideTheBase64TextIsNotPadding) {
    // Base64 of this text holds "uaf" away from the padding; replacing every "fau" by "="
    // would break a well-formed reply.
    EXPECT_EQ(fromReply("fauM2buZWanpwjFfaukrQMuEjCy4SM"), config("1.1", "2.1", "\u014F\u4E67"));
    EXPECT_EQ(unscrambledConfigText(scrambledConfigText("config\n\u014F\u4E67\n1.1\n2.1")),
              "config\n\u014F\u4E67\n1.1\n2.1");
}

TEST(ConfigReply, LinesAreTakenAsTheyStand) {
    EXPECT_EQ(fromReply("j9mbml2ZK42bKEjLxogMuEDI"), config("1.1", "2.1 "));
    EXPECT_EQ(parsedConfigText("config\n\n \n"), config(" ", "", ""));
}

TEST(ConfigReply, AnythingElseIsRejected) {
    for (std::string reply : {
             // Carriage return and line feed: the first line is "config" and a carriage return.
             "fauM2buZWanpQDu9mCNEjLxoQDy4SM",
             // A line break at the end makes a fifth line.
             "j9mbml2ZK42bKEjLxogMuEjC",
             // Not Base64 with no tolerance.
             "fauM2buZWanpgbvpQMuEjCy4SM\n",
             " fauM2buZWanpgbvpQMuEjCy4SM",
             "fauM2buZWanpgbvpQMuEjCy4S",
             "fauM2buZWanp=bvpQMuEjCy4SM",
             "faufauM2buZWanpgbvpQMuEjCy4SM",
             "=fauM2buZWanpgbvpQMuEjCy4SM",
             // Base64 of a byte that is not UTF-8.
             "faufauw/",
             "",
         }) {
        EXPECT_EQ(fromReply(reply), std::nullopt) << reply;
    }
    for (std::string text : {"Config\nno\n1.1\n2.1", "config \nno\n1.1\n2.1", "config\nno\n1.1",
                             "config\nno\n1.1\n2.1\n3.0", "config", ""}) {
        EXPECT_EQ(fromReply(scrambledConfigText(text)), std::nullopt) << text;
    }
}

TEST(UpdateNotice, VersionsCompareAsTextNotAsNumbers) {
    EXPECT_EQ(updateNotice("1.9", config("1.1", "1.10")), UpdateNotice::none);
    EXPECT_EQ(updateNotice("1.10", config("1.9", "1.9")), UpdateNotice::required);
    EXPECT_EQ(updateNotice("10.0", config("1.1", "2.0")), UpdateNotice::available);
    EXPECT_EQ(updateNotice("1.1", config("1.1", "1.1.1")), UpdateNotice::available);
    EXPECT_EQ(updateNotice("2.1", config("1.1", "2.1 ")), UpdateNotice::available);
    EXPECT_EQ(updateNotice("2.1", config("1.1", "2.1")), UpdateNotice::none);
    EXPECT_EQ(updateNotice("2.2", config("1.1", "2.1")), UpdateNotice::none);
    // Canonically equivalent versions are equal.
    EXPECT_EQ(updateNotice("1.\u00e9", config("1.e\u0301", "1.e\u0301")), UpdateNotice::none);
}

TEST(UpdateNotice, ARequiredUpdateWinsOverAnOffer) {
    EXPECT_EQ(updateNotice("2.0", config("2.1", "2.2")), UpdateNotice::required);
}

TEST(UpdateNotice, WithoutAReplyOnlyVersionsBefore1Point1MustUpdate) {
    EXPECT_EQ(updateNotice("1.0", RemoteConfig{}), UpdateNotice::required);
    EXPECT_EQ(updateNotice("1.1", RemoteConfig{}), UpdateNotice::none);
    EXPECT_EQ(updateNotice("2.0", RemoteConfig{}), UpdateNotice::none);
}

TEST(UpdateNotice, AMissingOwnVersionNeverSendsTheUserAway) {
    EXPECT_EQ(updateNotice("", config("2.1", "2.2")), UpdateNotice::none);
}

// The update check of the running program, version 2.0 as the simulated bundle says.
class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        remoteConfig = RemoteConfig{};
        setenv("BRIMLOW_SERVER_HOST", "staging.example.org", 1);
        ASSERT_EQ(SCL::appVersion(sim.desktop), "2.0");
    }
    void TearDown() override {
        remoteConfig = RemoteConfig{};
        unsetenv("BRIMLOW_SERVER_HOST");
    }
    // One launch's request, answered by the server with `reply`.
    void launchWithReply(const std::string& reply) {
        std::size_t sent = sim.http.sent.size();
        SCL::fetchRemoteConfig(sim.desktop);
        ASSERT_EQ(sim.http.sent.size(), sent + 1);
        sim.http.sent.back().completed({std::nullopt, reply});
        sim.advance(0);
    }
    std::vector<std::string> titles() {
        std::vector<std::string> out;
        for (const auto& shown : sim.alerts.shown) {
            out.push_back(shown.alert.messageText);
        }
        return out;
    }

    platform::sim::SimDesktop sim;
    const std::string downloadPage = "https://staging.example.org/brimlow/";
    const std::string offerText = "Currently installed: 2.0\nLatest version:2.1\n\nIt is "
                                  "recommended that you update the app for stability and "
                                  "performance.";
};

TEST_F(UpdateCheck, TheRequestCarriesTheIdentityAndReturnsAtOnce) {
    SCL::fetchRemoteConfig(sim.desktop);
    ASSERT_EQ(sim.http.sent.size(), 1u);
    const platform::HttpRequest& request = sim.http.sent[0].request;
    const std::string prefix = "https://staging.example.org/configapp/brimlow.php?user=user1%20%2D"
                               "%20Labs%20Laptop&ran=";
    ASSERT_TRUE(request.url.starts_with(prefix)) << request.url;
    EXPECT_EQ(request.url.find_first_not_of("0123456789", prefix.size()), std::string::npos);
    EXPECT_EQ(request.method, "GET");
    EXPECT_TRUE(request.headers.empty());
    sim.advance(60);
    EXPECT_TRUE(sim.alerts.shown.empty()) << "nothing happens until the request has ended";
}

TEST_F(UpdateCheck, AnAcceptedReplyIsAnnouncedAndChecked) {
    launchWithReply("fauM2buZWanpgbvpQMuEjCy4SM"); // latest 2.1
    EXPECT_EQ(sim.console.lines(), Lines{"config loaded"});
    EXPECT_EQ(remoteConfig, config("1.1", "2.1"));
    ASSERT_EQ(sim.alerts.shown.size(), 1u);
    EXPECT_EQ(sim.alerts.shown[0].alert.messageText, "App update available");
}

TEST_F(UpdateCheck, ARejectedReplyChangesNothingButTheCheckStillRuns) {
    remoteConfig = config("1.1", "2.5");
    launchWithReply("fauM2buZWanpQDu9mCNEjLxoQDy4SM");
    EXPECT_TRUE(sim.console.lines().empty());
    EXPECT_EQ(remoteConfig, config("1.1", "2.5"));
    EXPECT_EQ(titles(), Lines{"App update available"});
}

TEST_F(UpdateCheck, AFailedRequestChecksAgainstWhatIsHeld) {
    remoteConfig = config("2.1", "2.1");
    SCL::fetchRemoteConfig(sim.desktop);
    sim.http.sent.at(0).completed({"Could not resolve host: staging.example.org", std::nullopt});
    sim.advance(0);
    EXPECT_EQ(titles(), Lines{"App update required"});
}

TEST_F(UpdateCheck, OfflineVersion2Point0SeesNothing) {
    SCL::fetchRemoteConfig(sim.desktop);
    sim.http.sent.at(0).completed({"Could not connect to server", std::nullopt});
    sim.advance(0);
    EXPECT_TRUE(sim.alerts.shown.empty());
    EXPECT_FALSE(sim.application.terminated);
}

TEST_F(UpdateCheck, ARequiredUpdateOpensTheDownloadPageAndQuitsWhateverTheAnswer) {
    for (int response : {platform::alertFirstButtonReturn, -1000}) {
        platform::sim::SimDesktop fresh;
        fresh.alerts.answers.push_back({response, 5});
        // Silencing an offer never silences a required update.
        fresh.preferences.values["noupdateprompt"] = "2.2";
        remoteConfig = config("2.1", "2.2");
        SCL::checkForUpdate(fresh.desktop);

        ASSERT_EQ(fresh.alerts.shown.size(), 1u);
        const platform::Alert& alert = fresh.alerts.shown[0].alert;
        EXPECT_EQ(alert.messageText, "App update required");
        EXPECT_EQ(alert.informativeText,
                  "This version is significantly outdated and will no longer work. Please "
                  "relaunch the app after downloading the latest version.");
        EXPECT_EQ(alert.buttons, Lines{"Visit download page"});
        EXPECT_EQ(fresh.urls.opened, Lines{downloadPage});
        EXPECT_TRUE(fresh.application.terminated);
    }
}

TEST_F(UpdateCheck, DownloadNowOpensThePageAndKeepsRunning) {
    remoteConfig = config("1.1", "2.1");
    SCL::checkForUpdate(sim.desktop);
    ASSERT_EQ(sim.alerts.shown.size(), 1u);
    const platform::Alert& alert = sim.alerts.shown[0].alert;
    EXPECT_EQ(alert.messageText, "App update available");
    EXPECT_EQ(alert.informativeText, offerText);
    EXPECT_EQ(alert.buttons, (Lines{"Download now", "Don't show again for this version"}));
    EXPECT_EQ(sim.urls.opened, Lines{downloadPage});
    EXPECT_FALSE(sim.application.terminated);
    EXPECT_EQ(sim.preferences.stringForKey("noupdateprompt"), std::nullopt);
}

TEST_F(UpdateCheck, DontShowAgainSilencesExactlyThatVersion) {
    sim.alerts.answers.push_back({platform::alertSecondButtonReturn, 0});
    launchWithReply("fauM2buZWanpgbvpQMuEjCy4SM"); // latest 2.1
    EXPECT_EQ(sim.preferences.stringForKey("noupdateprompt"), "2.1");
    EXPECT_TRUE(sim.urls.opened.empty());

    // The next launches, with the same reply and then a newer one.
    remoteConfig = RemoteConfig{};
    launchWithReply("fauM2buZWanpgbvpQMuEjCy4SM");
    EXPECT_EQ(sim.alerts.shown.size(), 1u);
    remoteConfig = RemoteConfig{};
    launchWithReply("fauM2buZWanpgbvpQMuEjCy4iM"); // latest 2.2
    EXPECT_EQ(titles(), (Lines{"App update available", "App update available"}));
}

TEST_F(UpdateCheck, AnyOtherAnswerDoesNothing) {
    sim.alerts.answers.push_back({1002, 0});
    remoteConfig = config("1.1", "2.1");
    SCL::checkForUpdate(sim.desktop);
    EXPECT_EQ(sim.alerts.shown.size(), 1u);
    EXPECT_TRUE(sim.urls.opened.empty());
    EXPECT_TRUE(sim.preferences.writes.empty());
    EXPECT_FALSE(sim.application.terminated);
}

TEST_F(UpdateCheck, ABrowserThatCannotBeAskedLeavesADiagnostic) {
    class NoBrowser final : public platform::UrlOpener {
    public:
        bool openURL(const std::string&) override { return false; }
    } noBrowser;
    const platform::Desktop withoutBrowser = sim.with(noBrowser);
    remoteConfig = config("2.1", "2.1");
    SCL::checkForUpdate(withoutBrowser);
    EXPECT_EQ(sim.console.lines(), Lines{"No browser could open " + downloadPage});
    EXPECT_TRUE(sim.application.terminated);
}

} // namespace
} // namespace brimlow::testing
