#include "DesktopTest.h"

#include <algorithm>
#include <curl/curl.h>
#include <string>
#include <thread>

namespace brimlow::e2e {
namespace {

using Nudge = DesktopTest;

constexpr auto pointerPollInterval = 50ms;
const PointerPosition restingAt{100, 100};

struct PointerChange {
    PointerPosition to;
    Clock::time_point at;
};

// The first position other than `from`, polled as often as a person could notice a move.
std::optional<PointerChange> waitForPointerToLeave(const XConnection& x, PointerPosition from,
                                                   Clock::time_point deadline) {
    std::optional<PointerChange> change;
    pollUntil(
        deadline,
        [&] {
            auto now = x.pointer();
            if (now != from) {
                change = PointerChange{now, Clock::now()};
            }
            return change.has_value();
        },
        pointerPollInterval);
    return change;
}

// Without any server to answer: the program's requests fail at once and it carries on.
TEST_F(Nudge, MovesThePointerAwayAndBackOnceTheThresholdIsReached) {
    Sandbox sandbox(displayName());
    sandbox.writePreferences({{"idleseconds", "15"}});
    Environment env = sandbox.environment();
    env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
    // Fresh input now, so no tick before the reference input below finds the user idle.
    x().fakeMotion(600, 600);
    auto program = startProgram(env);
    ASSERT_TRUE(waitForPreferencesWindow(x(), program->pid(), program->startedAt() + 5s))
        << transcript(*program);
    // Ticks that find the user idle for over a second: from then on the program counts the idle
    // time itself, and only the server's word can tell it of the input below.
    ASSERT_TRUE(pollUntil(Clock::now() + 8s, [&] {
        const auto idle = idleLines(*program);
        return !idle.empty() && std::stod(idle.back().text) > 3.0;
    })) << transcript(*program);

    x().fakeMotion(restingAt.x, restingAt.y);
    const auto lastInput = Clock::now();
    ASSERT_EQ(x().pointer(), restingAt);

    auto away = waitForPointerToLeave(x(), restingAt, lastInput + 21s);
    ASSERT_TRUE(away) << "the pointer never moved within 21 s of the last input"
                      << transcript(*program);
    EXPECT_EQ(away->to, (PointerPosition{98, 102}));
    const double after = secondsBetween(lastInput, away->at);
    EXPECT_GE(after, 15.0) << "nudged before the 15 s threshold" << transcript(*program);
    EXPECT_LE(after, 19.0) << "nudged late" << transcript(*program);

    auto back = waitForPointerToLeave(x(), away->to, away->at + 3s);
    ASSERT_TRUE(back) << "the pointer stayed at " << describe(away->to);
    EXPECT_EQ(back->to, restingAt);
    EXPECT_NEAR(secondsBetween(away->at, back->at), 1.0, 0.4);

    Preferences stored;
    pollUntil(
        Clock::now() + 3s,
        [&] {
            stored = sandbox.readPreferences();
            return stored["movedcount"] == "1";
        },
        50ms);
    EXPECT_EQ(stored["movedcount"], "1");

    // The requests did go out and fail, each said in libcurl's words for it (its release's);
    // the idle lines kept coming all along.
    const std::string refused = curl_easy_strerror(CURLE_COULDNT_CONNECT);
    const auto lines = program->lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const OutputLine& line) { return line.text.starts_with(refused); }))
        << "no failed request was reported" << transcript(*program);
    const auto idle = idleLines(*program);
    ASSERT_GE(idle.size(), 8u) << transcript(*program);
    for (std::size_t i = 1; i < idle.size(); ++i) {
        EXPECT_LT(secondsBetween(idle[i - 1].at, idle[i].at), 2.5) << transcript(*program);
    }
    EXPECT_TRUE(program->running()) << transcript(*program);
}

TEST_F(Nudge, NeverMovesThePointerOnAServerWithoutXTest) {
    VirtualServer server({"-extension", "XTEST"});
    XConnection x(server.displayName());
    ASSERT_FALSE(x.hasExtension("XTEST")) << "the server still offers XTEST";
    x.warpPointer(restingAt.x, restingAt.y);
    ASSERT_EQ(x.pointer(), restingAt);

    Sandbox sandbox(server.displayName());
    sandbox.writePreferences({{"idleseconds", "15"}});
    auto program = startProgram(sandbox.environment());

    // Nothing touched this server since it started, so its idle time passes the threshold
    // after 15 s; one more tick and a nudge would be due.
    auto moved = waitForPointerToLeave(x, restingAt, program->startedAt() + 21s);
    EXPECT_FALSE(moved) << "the pointer moved to " << describe(moved->to) << " after "
                        << secondsBetween(program->startedAt(), moved->at) << " s";
    std::this_thread::sleep_until(program->startedAt() + 21s);

    auto lines = idleLines(*program);
    ASSERT_GE(lines.size(), 9u) << "idle lines stopped" << transcript(*program);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LT(secondsBetween(lines[i - 1].at, lines[i].at), 2.5) << transcript(*program);
    }
    EXPECT_GE(*idleSeconds(lines.back().text), 17.0) << "the idle time never passed the threshold";
    EXPECT_TRUE(program->running());
    auto stored = sandbox.readPreferences();
    EXPECT_TRUE(stored["movedcount"].empty() || stored["movedcount"] == "0")
        << "movedcount=" << stored["movedcount"];
}

} // namespace
} // namespace brimlow::e2e
