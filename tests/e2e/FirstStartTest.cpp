#include "DesktopTest.h"

#include <thread>

namespace brimlow::e2e {
namespace {

using FirstStart = DesktopTest;

// Idle values are read by the program and timed by us on different clocks; this much slack
// still tells idle time from, say, the program's own uptime (seconds apart below).
constexpr double idleTolerance = 0.35;

TEST_F(FirstStart, PrintsTheRealIdleSecondsEveryTwoSeconds) {
    Sandbox sandbox(displayName());
    x().fakeMotion(300, 700);
    const auto inputBeforeStart = Clock::now();
    auto program = startProgram(sandbox.environment());
    const auto start = program->startedAt();

    ASSERT_TRUE(waitForIdleLines(*program, 1, start + 6s))
        << "no idle line within 6 s" << transcript(*program);
    const auto first = idleLines(*program).front();
    // Input between two ticks: the next lines must count from it, not from the start.
    std::this_thread::sleep_until(first.at + 1s);
    x().fakeMotion(310, 700);
    const auto input = Clock::now();
    ASSERT_TRUE(waitForIdleLines(*program, 3, first.at + 6s)) << transcript(*program);

    const auto lines = idleLines(*program);
    const double firstAfter = secondsBetween(start, lines[0].at);
    EXPECT_GE(firstAfter, 1.95) << "first idle line came too early" << transcript(*program);
    EXPECT_LE(firstAfter, 3.5) << "first idle line came too late" << transcript(*program);
    for (std::size_t i = 1; i < 3; ++i) {
        const double gap = secondsBetween(lines[i - 1].at, lines[i].at);
        EXPECT_NEAR(gap, 2.0, 0.3) << "lines " << i - 1 << " and " << i << transcript(*program);
    }
    EXPECT_NEAR(*idleSeconds(lines[0].text), secondsBetween(inputBeforeStart, lines[0].at),
                idleTolerance);
    EXPECT_NEAR(*idleSeconds(lines[1].text), secondsBetween(input, lines[1].at), idleTolerance);
    EXPECT_NEAR(*idleSeconds(lines[2].text), secondsBetween(input, lines[2].at), idleTolerance);
}

TEST_F(FirstStart, MapsThePreferencesWindowAboutOneSecondAfterStart) {
    Sandbox sandbox(displayName());
    auto program = startProgram(sandbox.environment());
    const auto start = program->startedAt();

    auto seen = waitForPreferencesWindow(x(), program->pid(), start + 5s);
    ASSERT_TRUE(seen) << "no window titled Brimlow… mapped within 5 s" << transcript(*program);
    const double after = secondsBetween(start, seen->at);
    EXPECT_GE(after, 0.8) << "the window came too early";
    EXPECT_LE(after, 2.5) << "the window came too late";
}

TEST_F(FirstStart, StoresTheDefaultThresholdAndAVisibleIcon) {
    Sandbox sandbox(displayName());
    ASSERT_FALSE(std::filesystem::exists(sandbox.preferencesFile()));
    auto program = startProgram(sandbox.environment());

    Preferences stored;
    bool written = pollUntil(
        program->startedAt() + 5s,
        [&] {
            stored = sandbox.readPreferences();
            return stored.count("idleseconds") != 0 && stored.count("hideicon") != 0;
        },
        50ms);
    ASSERT_TRUE(written) << "preferences not written within 5 s to " << sandbox.preferencesFile();
    EXPECT_EQ(stored["idleseconds"], "60");
    EXPECT_EQ(stored["hideicon"], "0");
}

} // namespace
} // namespace brimlow::e2e
