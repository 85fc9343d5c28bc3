#include "SimProgram.h"
#include "app/server/SCL.h"

#include <gtest/gtest.h>
#include <thread>

namespace brimlow::testing {
namespace {

using platform::sim::SimAlerts;

TEST(RunLoop, IdleTicksWaitForAModalAlertAndCatchUpOnce) {
    SimProgram p;
    p.start();
    p.advance(2.5); // first tick at 2.0
    // The alert stays up for 7 s: ticks at 4, 6 and 8 fall due meanwhile.
    p.sim.alerts.answers.push_back(SimAlerts::Answer{1000, 7.0});
    SCL::showAlert(p.sim.desktop, "body", "title", [] {});
    p.advance(0); // the alert runs now and closes at 9.5; the held tick fires once then
    EXPECT_EQ(p.sim.console.tickLines(), (std::vector<std::string>{"2.0", "9.5"}));
    p.advance(0.5); // back on the two-second beat
    EXPECT_EQ(p.sim.console.tickLines(), (std::vector<std::string>{"2.0", "9.5", "10.0"}));
}

TEST(RunLoop, TheSecondHalfOfANudgeWaitsForAModalAlert) {
    SimProgram p;
    p.grantAccess();
    p.sim.preferences.values["idleseconds"] = "15";
    p.start();
    p.sim.idleClock.setIdleFor(20);
    p.advance(2); // nudge: first move now, return due at 3.0
    ASSERT_EQ(p.sim.pointer.posted.size(), 1u);
    p.sim.alerts.answers.push_back(SimAlerts::Answer{1000, 5.0});
    SCL::showAlert(p.sim.desktop, "body", "title", [] {});
    p.advance(0); // the alert closes at 7.0
    // The return move was due at 3.0 and the ticks at 4.0 and 6.0: all wait for the alert,
    // then the return move and one tick's nudge follow.
    EXPECT_EQ(p.sim.pointer.postedAt, (std::vector<double>{2.0, 7.0, 7.0}));
    EXPECT_EQ(p.sim.console.tickLines(), (std::vector<std::string>{"22.0", "27.0"}));
}

TEST(RunLoop, WorkQueuedFromAnotherThreadRunsOnTheMainThreadInOrder) {
    SimProgram p;
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread worker([&] {
        p.sim.desktop.mainQueue.async([&] { order.push_back(1); });
        p.sim.desktop.mainQueue.async([&] {
            order.push_back(2);
            ranOn = std::this_thread::get_id();
        });
    });
    worker.join();
    EXPECT_TRUE(order.empty());
    p.advance(0);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RunLoop, AnItemQueuedByAnotherRunsAfterItNotInsideIt) {
    SimProgram p;
    std::vector<std::string> events;
    p.sim.desktop.mainQueue.async([&] {
        events.push_back("outer begins");
        p.sim.desktop.mainQueue.async([&] { events.push_back("inner"); });
        p.sim.desktop.alerts.runModal({"modal", "", {}});
        events.push_back("outer ends");
    });
    p.advance(0);
    EXPECT_EQ(events, (std::vector<std::string>{"outer begins", "outer ends", "inner"}));
}

} // namespace
} // namespace brimlow::testing
