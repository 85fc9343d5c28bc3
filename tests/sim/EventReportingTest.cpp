#include "app/server/EventReporting.h"

#include "app/server/SCL.h"
#include "app/server/ServerUrls.h"
#include "platform/sim/SimDesktop.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>

namespace brimlow::testing {
namespace {

const EventClient exampleClient{"14.5", "2.1", "user1 - Labs Laptop"};

TEST(EventQuery, KeysStandInOrderWithEmptyValuesKept) {
    EXPECT_EQ(eventQuery("First launch", "", "", exampleClient, 123456789),
              "cat=brimlow&evtname=First%20launch&evtval=&notes=&device=14%2E5%2D2%2E1"
              "&uid=user1%20%2D%20Labs%20Laptop%2D&ran=123456789");
    EXPECT_EQ(eventQuery("e", "v", "n", {"", "", ""}, 0),
              "cat=brimlow&evtname=e&evtval=v&notes=n&device=%2D&uid=%2D&ran=0");
}

TEST(EventQuery, EverythingButLettersMarksAndNumbersIsEncoded) {
    std::string query = eventQuery("a&b=c", "50%_.~+/?#", "x y", exampleClient, 999999999);
    EXPECT_NE(query.find("&evtname=a%26b%3Dc&evtval=50%25%5F%2E%7E%2B%2F%3F%23&notes=x%20y&"),
              std::string::npos)
        << query;
    EXPECT_TRUE(query.ends_with("&ran=999999999"));
}

TEST(EventQuery, LettersMarksAndNumbersOfAnyScriptStay) {
    // Latin, Greek, Han, a combining mark, Arabic-Indic and superscript digits stay; the
    // numero sign, an emoji and a no-break space are encoded byte by byte.
    std::string query = eventQuery("B\u00fcro\u03a9\u4e2de\u0301\u0663\u00b2",
                                   "\u2116\U0001F600\u00a0", "", exampleClient, 1);
    EXPECT_NE(query.find("evtname=B\u00fcro\u03a9\u4e2de\u0301\u0663\u00b2&evtval="
                         "%E2%84%96%F0%9F%98%80%C2%A0&notes=&"),
              std::string::npos)
        << query;
}

class ReportEvent : public ::testing::Test {
protected:
    void SetUp() override { setenv("BRIMLOW_SERVER_HOST", "staging.example.org:8443", 1); }
    void TearDown() override { unsetenv("BRIMLOW_SERVER_HOST"); }

    platform::sim::SimDesktop sim;
};

TEST_F(ReportEvent, SendsOneGetToTheServerAndReturnsAtOnce) {
    SCL::reportEvent(sim.desktop, "First launch", "", "");
    ASSERT_EQ(sim.http.sent.size(), 1u);
    const platform::HttpRequest& request = sim.http.sent[0].request;
    const std::string prefix =
        "https://staging.example.org:8443/logistics/ln.php?cat=brimlow&evtname=First%20launch"
        "&evtval=&notes=&device=6%2E1%2D2%2E0&uid=user1%20%2D%20Labs%20Laptop%2D&ran=";
    ASSERT_TRUE(request.url.starts_with(prefix)) << request.url;
    std::string random = request.url.substr(prefix.size());
    EXPECT_TRUE(
        !random.empty() && random.size() <= 9 &&
        std::all_of(random.begin(), random.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        (random == "0" || random[0] != '0'))
        << random;
    EXPECT_EQ(request.method, "GET");
    EXPECT_TRUE(request.headers.empty());
}

TEST_F(ReportEvent, AFailureShowsOnlyAsTheDiagnosticLine) {
    SCL::reportEvent(sim.desktop, "First launch", "", "");
    sim.http.sent.at(0).completed({"Could not connect to server", std::nullopt});
    sim.advance(60);
    EXPECT_EQ(sim.console.lines(), std::vector<std::string>{"Could not connect to server"});
    EXPECT_TRUE(sim.alerts.shown.empty());
    EXPECT_EQ(sim.http.sent.size(), 1u) << "no retry";
}

TEST(ServerHost, TheEnvironmentOverridesTheBuiltInHost) {
    unsetenv("BRIMLOW_SERVER_HOST");
    const std::string builtIn = serverHost();
    EXPECT_FALSE(builtIn.empty());
    setenv("BRIMLOW_SERVER_HOST", "127.0.0.1:8443", 1);
    EXPECT_EQ(serverHost(), "127.0.0.1:8443");
    setenv("BRIMLOW_SERVER_HOST", "", 1);
    EXPECT_EQ(serverHost(), builtIn);
    unsetenv("BRIMLOW_SERVER_HOST");
}

TEST(RandomRequestNumber, CoversTheWholeRangeEvenly) {
    constexpr int draws = 4000;
    std::set<std::uint32_t> seen;
    int lowerHalf = 0;
    int lowestTenth = 0;
    for (int i = 0; i < draws; ++i) {
        std::uint32_t n = randomRequestNumber();
        ASSERT_LE(n, 999'999'999u);
        seen.insert(n);
        lowerHalf += n < 500'000'000u;
        lowestTenth += n < 100'000'000u;
    }
    EXPECT_GE(seen.size(), draws - 5u);
    // Six standard deviations either way.
    EXPECT_NEAR(lowerHalf, draws / 2, 190);
    EXPECT_NEAR(lowestTenth, draws / 10, 115);
}

} // namespace
} // namespace brimlow::testing
