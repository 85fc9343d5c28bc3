#include "SimProgram.h"
#include "app/server/SCL.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

TEST(Alert, ReturnsBeforeShowingAndRunsTheCompletionAfterClosing) {
    SimProgram p;
    std::vector<std::string> events;
    p.sim.alerts.onShow = [&](const platform::Alert& alert) {
        events.push_back("show " + alert.messageText);
    };
    SCL::showAlert(p.sim.desktop, "Body text", "Title", [&] { events.push_back("done"); });
    events.push_back("caller goes on");
    p.advance(0);
    EXPECT_EQ(events, (std::vector<std::string>{"caller goes on", "show Title", "done"}));
    ASSERT_EQ(p.sim.alerts.shown.size(), 1u);
    EXPECT_EQ(p.sim.alerts.shown[0].alert.informativeText, "Body text");
    EXPECT_TRUE(p.sim.alerts.shown[0].alert.buttons.empty()) << "one default button only";
}

TEST(Alert, TwoAlertsShowOneAfterTheOtherWithTheFirstCompletionBetween) {
    SimProgram p;
    std::vector<std::string> events;
    p.sim.alerts.onShow = [&](const platform::Alert& alert) {
        events.push_back("show " + alert.messageText);
    };
    p.sim.alerts.answers = {{1000, 3.0}, {1000, 1.0}};
    SCL::showAlert(p.sim.desktop, "", "first", [&] { events.push_back("first done"); });
    SCL::showAlert(p.sim.desktop, "", "second", [&] { events.push_back("second done"); });
    p.advance(0);
    EXPECT_EQ(events,
              (std::vector<std::string>{"show first", "first done", "show second", "second done"}));
    ASSERT_EQ(p.sim.alerts.shown.size(), 2u);
    EXPECT_DOUBLE_EQ(p.sim.alerts.shown[1].shownAt, 3.0)
        << "the second waits for the first to close";
}

} // namespace
} // namespace brimlow::testing
