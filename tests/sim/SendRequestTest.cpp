#include "app/server/SCL.h"
#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>
#include <thread>

namespace brimlow::testing {
namespace {

using platform::HttpOutcome;
using Headers = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

// Counts the main-queue items the code under test asks for.
class CountingQueue final : public platform::MainQueue {
public:
    explicit CountingQueue(platform::MainQueue& queue) : queue_(queue) {}
    void async(Work work) override {
        ++items;
        queue_.async(std::move(work));
    }
    void asyncAfter(double seconds, Work work) override {
        ++items;
        queue_.asyncAfter(seconds, std::move(work));
    }
    std::atomic<int> items = 0;

private:
    platform::MainQueue& queue_;
};

class SendRequest : public ::testing::Test {
protected:
    platform::sim::SimDesktop sim;
    CountingQueue queue{sim.runLoop};
    const platform::Desktop desktop = sim.with(queue);
    // What reached the callbacks, in order, and on which thread.
    Lines calls;
    std::vector<std::thread::id> threads;

    void send(const std::string& url, const std::string& body = "",
              const std::string& headers = "") {
        SCL::sendRequest(
            desktop, url, [this](const std::string& text) { record("success: " + text); },
            [this](const std::string& text) { record("failure: " + text); }, body, headers,
            [this](const std::string& bytes) { record("data: " + bytes); });
    }
    void record(const std::string& call) {
        calls.push_back(call);
        threads.push_back(std::this_thread::get_id());
    }
    const platform::HttpRequest& request() { return sim.http.sent.at(0).request; }
    // Ends the transfer as the HTTP client would: on a thread of its own.
    void complete(HttpOutcome outcome) {
        std::thread worker(sim.http.sent.at(0).completed, std::move(outcome));
        worker.join();
    }
};

TEST_F(SendRequest, AnEmptyBodyIsAGetAndAnyOtherAPostOfItsBytes) {
    send("https://h.example/a");
    send("https://h.example/b", "a=1");
    send("https://h.example/c", "\u00e9");
    ASSERT_EQ(sim.http.sent.size(), 3u);
    EXPECT_EQ(sim.http.sent[0].request.method, "GET");
    EXPECT_EQ(sim.http.sent[0].request.body, "");
    EXPECT_EQ(sim.http.sent[1].request.method, "POST");
    EXPECT_EQ(sim.http.sent[1].request.body, "a=1");
    EXPECT_EQ(sim.http.sent[2].request.body, "\xC3\xA9");
    for (const auto& sent : sim.http.sent) {
        EXPECT_TRUE(sent.request.headers.empty()) << "no content type or other header of its own";
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(SendRequest, HeaderLinesSplitAtTheFirstColonAndSpace) {
    send("https://h.example/", "", "A: 1\n\nB: 2\nAccept: a: b\nX-Empty: \n");
    EXPECT_EQ(request().headers,
              (Headers{{"A", "1"}, {"B", "2"}, {"Accept", "a: b"}, {"X-Empty", ""}}));
    EXPECT_TRUE(sim.console.lines().empty());
}

TEST_F(SendRequest, ALineWithoutColonAndSpacePrintsBothLinesAndIsStillSent) {
    send("https://h.example/", "", "A: 1\nName:value\nB: 2");
    EXPECT_EQ(sim.console.lines(), (Lines{"textfrom - no match", "textto - no match"}));
    EXPECT_EQ(request().headers, (Headers{{"A", "1"}, {"", ""}, {"B", "2"}}));
}

TEST_F(SendRequest, ARepeatedNameJoinsTheFirstValue) {
    send("https://h.example/", "", "Accept: a\naccept: b\nC: 1");
    EXPECT_EQ(request().headers, (Headers{{"Accept", "a,b"}, {"C", "1"}}));
}

TEST_F(SendRequest, AReplyGoesToSuccessThenDataInOneMainQueueItem) {
    send("https://h.example/");
    complete({std::nullopt, "not found"});
    EXPECT_TRUE(calls.empty()) << "nothing runs on the worker thread";
    EXPECT_EQ(queue.items, 1);
    sim.advance(0);
    EXPECT_EQ(calls, (Lines{"success: not found", "data: not found"}));
    EXPECT_EQ(threads, (std::vector{std::this_thread::get_id(), std::this_thread::get_id()}));
    EXPECT_TRUE(sim.console.lines().empty());
}

TEST_F(SendRequest, AnEmptyReplyIsASuccess) {
    send("https://h.example/");
    complete({std::nullopt, ""});
    sim.advance(0);
    EXPECT_EQ(calls, (Lines{"success: ", "data: "}));
}

TEST_F(SendRequest, FailuresArePrintedThenDeliveredAlone) {
    struct Case {
        HttpOutcome outcome;
        std::string description;
    };
    std::vector<Case> cases{
        {{"Could not resolve host: nowhere.invalid", std::nullopt},
         "Could not resolve host: nowhere.invalid"},
        {{std::nullopt, std::nullopt}, "No error, no data"},
        {{std::nullopt, "caf\xC3\xA9"}, "The server's reply is not 7-bit ASCII text."},
        {{std::nullopt, std::string("ok\x80", 3)}, "The server's reply is not 7-bit ASCII text."},
    };
    for (const Case& c : cases) {
        sim.http.sent.clear();
        calls.clear();
        int before = queue.items;
        std::size_t printed = sim.console.lines().size();
        send("https://h.example/");
        complete(c.outcome);
        EXPECT_EQ(sim.console.lines().size(), printed + 1);
        EXPECT_EQ(sim.console.lines().back(), c.description);
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(queue.items, before + 1);
        sim.advance(0);
        EXPECT_EQ(calls, Lines{"failure: " + c.description});
    }
}

TEST_F(SendRequest, AUrlThatCannotBeParsedFailsLaterWithoutSending) {
    for (std::string url :
         {"", "no scheme", "h.example/path", "https://", "https:///path", "https://h.example/a b",
          "https://h.example/a\nb", "https://h.example/%zz", "https://h.example/%4",
          "https://h.example:80x/", "https://h.exa<mple/", "https://h.example/{x}",
          "1https://h.example/", "https://h.example/#a#b", "https://h.example/\xC3"}) {
        calls.clear();
        send(url);
        EXPECT_TRUE(calls.empty()) << url;
        sim.advance(0);
        EXPECT_EQ(calls, Lines{"failure: The URL cannot be parsed: " + url});
        EXPECT_EQ(sim.console.lines().back(), "The URL cannot be parsed: " + url);
    }
    EXPECT_TRUE(sim.http.sent.empty());
}

TEST_F(SendRequest, AValidUrlIsSentAsItIs) {
    std::vector<std::string> urls{
        "https://h.example/logistics/ln.php?cat=brimlow&evtname=First%20launch&evtval=&ran=1",
        "https://127.0.0.1:8443/a/b?c=d;e=f#frag",
        "https://[::1]:8443/",
        "https://user@h.example",
        "https://h.example:/?q=a:b@c/d?e",
    };
    for (const auto& url : urls) {
        send(url);
    }
    ASSERT_EQ(sim.http.sent.size(), urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        EXPECT_EQ(sim.http.sent[i].request.url, urls[i]);
    }
}

TEST_F(SendRequest, NonAsciiLettersTravelPercentEncoded) {
    send("https://h.example/ln.php?uid=B\u00fcro%20\u212A");
    EXPECT_EQ(request().url, "https://h.example/ln.php?uid=B%C3%BCro%20%E2%84%AA");
    send("https://b\u00fccher.example/");
    EXPECT_EQ(sim.http.sent.size(), 1u) << "a host must be ASCII";
}

} // namespace
} // namespace brimlow::testing
