#include "DesktopTest.h"

namespace brimlow::e2e {
namespace {

class SecondStart : public DesktopTest {
protected:
    // Starts the program again with the same configuration and bus; it has to hand over and
    // leave at once.
    void startAgainAndExpectHandover(const Sandbox& sandbox) {
        auto again = startProgram(sandbox.environment());
        auto status = again->waitForExit(5s);
        ASSERT_TRUE(status) << "the second start still runs after 5 s" << transcript(*again);
        EXPECT_EQ(*status, 0) << transcript(*again);
    }
};

TEST_F(SecondStart, RaisesTheFirstWindowAndShowsItAgainOnceClosed) {
    Sandbox sandbox(displayName());
    auto first = startProgram(sandbox.environment());
    auto seen = waitForPreferencesWindow(x(), first->pid(), first->startedAt() + 5s);
    ASSERT_TRUE(seen) << transcript(*first);
    auto area = x().rootGeometry(seen->id);
    ASSERT_TRUE(area);

    {
        CoverWindow cover(x(), {area->x, area->y, area->width + 20, area->height + 20});
        ASSERT_LT(stackingIndex(x(), seen->id), stackingIndex(x(), cover.id()));
        startAgainAndExpectHandover(sandbox);
        std::optional<Window> shown;
        bool raised = pollUntil(Clock::now() + 3s, [&] {
            shown = preferencesWindow(x(), first->pid());
            return shown && stackingIndex(x(), *shown) > stackingIndex(x(), cover.id());
        });
        EXPECT_TRUE(shown) << "the first program's window left the screen";
        EXPECT_TRUE(raised) << "the first program's window stayed below another window";
    }

    // Closed as a window manager's close button closes it.
    x().requestClose(seen->id);
    ASSERT_TRUE(pollUntil(Clock::now() + 3s, [&] { return !preferencesWindow(x(), first->pid()); }))
        << "the window stayed on screen after a close request";
    ASSERT_TRUE(first->running()) << "closing the window ended the program";
    startAgainAndExpectHandover(sandbox);
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        return preferencesWindow(x(), first->pid()).has_value();
    })) << "the closed window did not come back";
    EXPECT_TRUE(first->running());
}

} // namespace
} // namespace brimlow::e2e
