// The program's HTTP client (its request helper, and libcurl in there) under the program's
// sendRequest, against a real HTTPS server on this machine. Callbacks come through the simulated
// main queue, which the test pumps.

#include "TestServer.h"
#include "app/server/SCL.h"
#include "app/server/UpdateCheck.h"
#include "platform/linux/base/HelperHttpClient.h"
#include "platform/sim/SimDesktop.h"

#include <chrono>
#include <cstdlib>
#include <curl/curl.h>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brimlow::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

struct Outcome {
    std::optional<std::string> success;
    std::optional<std::string> data;
    std::optional<std::string> failure;
    double seconds = 0;
};

Lines linesOf(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

// The header lines of an echoed request.
Lines headersOf(const std::string& echo) {
    Lines headers;
    for (const auto& line : linesOf(echo)) {
        if (line.starts_with("header ")) {
            headers.push_back(line.substr(7));
        }
    }
    return headers;
}

// A port that nothing listens on.

class Https : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new TestServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server->error.empty()) << server->error;
        setenv("SSL_CERT_FILE", server->caFile.c_str(), 1);
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    std::string url(const std::string& path, int port = 0) {
        return "https://127.0.0.1:" + std::to_string(port != 0 ? port : server->trustedPort) + path;
    }

    Outcome request(const std::string& address, const std::string& body = "",
                    const std::string& headers = "", double limitSeconds = 10) {
        auto outcome = std::make_shared<Outcome>();
        auto started = Clock::now();
        SCL::sendRequest(
            desktop, address, [outcome](const std::string& text) { outcome->success = text; },
            [outcome](const std::string& text) { outcome->failure = text; }, body, headers,
            [outcome](const std::string& bytes) { outcome->data = bytes; });
        while (!outcome->data && !outcome->failure &&
               Clock::now() - started < std::chrono::duration<double>(limitSeconds)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sim.advance(0);
        }
        outcome->seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return *outcome;
    }

    // A failure arrived alone, with its description printed first.
    void expectFailure(const Outcome& outcome, const std::string& beginning) {
        ASSERT_TRUE(outcome.failure.has_value()) << outcome.success.value_or("");
        EXPECT_TRUE(outcome.failure->starts_with(beginning)) << *outcome.failure;
        EXPECT_FALSE(outcome.success || outcome.data);
        Lines printed = sim.console.lines();
        ASSERT_FALSE(printed.empty());
        EXPECT_EQ(printed.back(), *outcome.failure);
    }

    static TestServer* server;
    platform::sim::SimDesktop sim;
    // Declared after the simulated desktop so that it stops its workers before it goes.
    platform::linuxdesktop::HelperHttpClient http{BRIMLOW_REQUEST_HELPER};
    const platform::Desktop desktop = sim.with(http);
};

TestServer* Https::server = nullptr;

TEST_F(Https, AGetCarriesNoBodyAndNoHeaderOfItsOwn) {
    Outcome outcome = request(url("/echo?a=1&b=%20"));
    ASSERT_TRUE(outcome.success) << outcome.failure.value_or("");
    EXPECT_EQ(outcome.data, outcome.success);
    Lines lines = linesOf(*outcome.success);
    EXPECT_EQ(lines.at(0), "method GET");
    EXPECT_EQ(lines.at(1), "target /echo?a=1&b=%20");
    EXPECT_EQ(headersOf(*outcome.success),
              Lines{"Host: 127.0.0.1:" + std::to_string(server->trustedPort)});
    EXPECT_EQ(lines.back(), "body ");
}

TEST_F(Https, APostCarriesTheExactBodyAndNoContentType) {
    Outcome outcome = request(url("/echo"), "a=1");
    ASSERT_TRUE(outcome.success) << outcome.failure.value_or("");
    EXPECT_EQ(linesOf(*outcome.success).at(0), "method POST");
    EXPECT_EQ(linesOf(*outcome.success).back(), "body 613d31");
    EXPECT_EQ(
        headersOf(*outcome.success),
        (Lines{"Host: 127.0.0.1:" + std::to_string(server->trustedPort), "Content-Length: 3"}));

    // Large enough that curl would otherwise ask to continue first.
    Outcome large = request(url("/echo"), std::string(5000, 'x'));
    ASSERT_TRUE(large.success) << large.failure.value_or("");
    EXPECT_EQ(headersOf(*large.success).size(), 2u) << *large.success;
}

TEST_F(Https, HeaderLinesAreSentAndABrokenOneOnlyPrints) {
    Outcome outcome = request(url("/echo"), "", "A: 1\n\nB: 2\nno separator\nAccept: a: b\nE: ");
    ASSERT_TRUE(outcome.success) << outcome.failure.value_or("");
    EXPECT_EQ(headersOf(*outcome.success),
              (Lines{"Host: 127.0.0.1:" + std::to_string(server->trustedPort), "A: 1", "B: 2",
                     "Accept: a: b", "E: "}));
    EXPECT_EQ(sim.console.lines(), (Lines{"textfrom - no match", "textto - no match"}));
}

TEST_F(Https, ErrorStatusesAndEmptyRepliesAreSuccesses) {
    Outcome missing = request(url("/status/404"));
    EXPECT_EQ(missing.success, "no such page");
    EXPECT_EQ(missing.data, "no such page");
    Outcome empty = request(url("/empty"));
    EXPECT_EQ(empty.success, "");
    EXPECT_EQ(empty.data, "");
    EXPECT_TRUE(sim.console.lines().empty());
}

TEST_F(Https, RedirectsAreFollowed) {
    Outcome outcome = request(url("/redirect"));
    ASSERT_TRUE(outcome.success) << outcome.failure.value_or("");
    EXPECT_EQ(linesOf(*outcome.success).at(1), "target /echo?redirected");
}

TEST_F(Https, RepliesMustBeAsciiAndAtMostOneMebibyte) {
    expectFailure(request(url("/latin1")), "The server's reply is not 7-bit ASCII text.");
    Outcome largest = request(url("/size?1048576"));
    ASSERT_TRUE(largest.success) << largest.failure.value_or("");
    EXPECT_EQ(largest.success->size(), 1048576u);
    expectFailure(request(url("/size?1048577")), "The server's reply is larger than 1 MiB.");
}

// Each failure is reported in libcurl's own words for it, which change between its releases.
TEST_F(Https, TransportErrorsArePrintedAndReported) {
    expectFailure(request(url("/echo", closedLoopbackPort())),
                  curl_easy_strerror(CURLE_COULDNT_CONNECT));
    expectFailure(request("https://nowhere.invalid/"),
                  curl_easy_strerror(CURLE_COULDNT_RESOLVE_HOST));
    expectFailure(request(url("/echo").replace(0, 5, "http")),
                  curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
}

TEST_F(Https, OnlyVerifiedCertificatesAreTrusted) {
    const std::string unverified = curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION);
    // Signed by an authority the client was not given.
    expectFailure(request(url("/echo", server->untrustedPort)), unverified);
    // The right authority, but the certificate names 127.0.0.1, not localhost.
    expectFailure(request("https://localhost:" + std::to_string(server->trustedPort) + "/echo"),
                  unverified);
    // The authority is trusted only through SSL_CERT_FILE.
    unsetenv("SSL_CERT_FILE");
    expectFailure(request(url("/echo")), unverified);
    setenv("SSL_CERT_FILE", "/nonexistent/ca.pem", 1);
    expectFailure(request(url("/echo")),
                  "SSL_CERT_FILE names a file that cannot be read: /nonexistent/ca.pem");
}

TEST_F(Https, ConcurrentRequestsEachEndOnce) {
    int ended = 0;
    for (int i = 0; i < 4; ++i) {
        SCL::sendRequest(
            desktop, url("/echo?" + std::to_string(i)), [](const std::string&) {},
            [&ended](const std::string&) { ++ended; }, "", "",
            [&ended](const std::string&) { ++ended; });
    }
    for (auto started = Clock::now();
         ended < 4 && Clock::now() - started < std::chrono::seconds(10);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sim.advance(0);
    }
    EXPECT_EQ(ended, 4);
}

// The helper missing from an installation, or failing, is a transport error like any other.
TEST_F(Https, AHelperThatGivesNoAnswerIsATransportError) {
    for (const auto& [helper, expected] :
         {std::pair<std::string, std::string>{"/nonexistent/brimlow-request",
                                              "The HTTP helper /nonexistent/brimlow-request "
                                              "cannot be started: No such file or directory"},
          {"/bin/false", "The HTTP helper ended with status 1 and no answer"}}) {
        platform::linuxdesktop::HelperHttpClient broken(helper);
        std::promise<platform::HttpOutcome> outcome;
        broken.send({url("/echo"), "GET", "", {}},
                    [&outcome](platform::HttpOutcome got) { outcome.set_value(std::move(got)); });
        auto answer = outcome.get_future();
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready) << helper;
        const platform::HttpOutcome got = answer.get();
        EXPECT_EQ(got.error, expected);
        EXPECT_EQ(got.body, std::nullopt);
    }
}

TEST_F(Https, AClientGoingAwayAbortsItsTransfersWithoutCallingBack) {
    bool called = false;
    auto client =
        std::make_unique<platform::linuxdesktop::HelperHttpClient>(BRIMLOW_REQUEST_HELPER);
    client->send({url("/silent"), "GET", "", {}},
                 [&called](platform::HttpOutcome) { called = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto started = Clock::now();
    client.reset();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 3.0);
    EXPECT_FALSE(called);
}

TEST_F(Https, TheConfigurationMadeByTheToolIsLoaded) {
    remoteConfig = RemoteConfig{};
    setenv("BRIMLOW_SERVER_HOST", ("127.0.0.1:" + std::to_string(server->trustedPort)).c_str(), 1);
    SCL::fetchRemoteConfig(desktop);
    for (auto started = Clock::now();
         sim.alerts.shown.empty() && Clock::now() - started < std::chrono::seconds(10);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sim.advance(0);
    }
    unsetenv("BRIMLOW_SERVER_HOST");
    EXPECT_EQ(sim.console.lines(), Lines{"config loaded"});
    EXPECT_EQ(remoteConfig, (RemoteConfig{"config", "no", "1.1", "2.1"}));
    ASSERT_EQ(sim.alerts.shown.size(), 1u);
    EXPECT_EQ(sim.alerts.shown[0].alert.messageText, "App update available");
    remoteConfig = RemoteConfig{};
}

// Slow: each waits for one of the client's limits.

TEST_F(Https, SlowAServerThatSendsNothingFailsAfterFifteenSeconds) {
    Outcome outcome = request(url("/silent"), "", "", 40);
    expectFailure(outcome, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(outcome.seconds, 14.5);
    EXPECT_LT(outcome.seconds, 20);
}

TEST_F(Https, SlowATransferStillRunningAfterThirtySecondsFailsEvenWhileDataArrives) {
    Outcome outcome = request(url("/trickle"), "", "", 60);
    expectFailure(outcome, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(outcome.seconds, 29.5);
    EXPECT_LT(outcome.seconds, 35);
}

} // namespace
} // namespace brimlow::testing
