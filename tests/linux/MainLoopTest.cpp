#include "TestSupport.h"
#include "platform/linux/qt/QtMainLoop.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace brimlow::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::linuxdesktop::QtAlerts;
using platform::linuxdesktop::QtMainLoop;

QMessageBox* openAlert() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// Acts on the alert once it is up and `after` has passed, from Qt's own timers, which the
// alert's nested event loop keeps delivering.
void whenAlertIsUp(std::chrono::milliseconds after, std::function<void(QMessageBox&)> act) {
    auto attempt = std::make_shared<std::function<void()>>();
    *attempt = [attempt, act] {
        if (QMessageBox* box = openAlert()) {
            act(*box);
            // The running copy belongs to the timer; dropping the shared one ends the cycle.
            *attempt = nullptr;
        } else {
            QTimer::singleShot(10ms, *attempt);
        }
    };
    QTimer::singleShot(after, *attempt);
}

void clickButton(QMessageBox& box, const QString& text) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
}

class MainLoop : public ::testing::Test {
protected:
    void SetUp() override { ensureQtApplication(); }

    QtMainLoop loop;
    QtAlerts alerts{loop, "Brimlow"};
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(MainLoop, AnItemNeverStartsInsideAnotherThatRunsAModalAlert) {
    std::vector<std::string> events;
    bool done = false;
    loop.async([&] {
        events.push_back("first starts");
        // Queued from within the alert's nested loop, both directly and after a delay.
        whenAlertIsUp(50ms, [&](QMessageBox& box) {
            loop.async([&] { events.push_back("queued during the alert"); });
            loop.asyncAfter(0.01, [&] { events.push_back("delayed during the alert"); });
            QTimer::singleShot(200ms, &box, [&] {
                events.push_back("alert closes");
                clickButton(box, "OK");
            });
        });
        alerts.runModal({"Title", "Body", {}});
        events.push_back("first ends");
    });
    loop.async([&] { events.push_back("second"); });
    loop.async([&] { done = true; });
    ASSERT_TRUE(runEventsUntil([&] { return done && events.size() == 6; }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"first starts", "alert closes", "first ends", "second",
                                        "queued during the alert", "delayed during the alert"}));
}

TEST_F(MainLoop, WorkQueuedFromOtherThreadsRunsOnTheMainThreadInOrder) {
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<int> offMainThread = 0;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            loop.async([&, i] {
                order.push_back(i);
                if (std::this_thread::get_id() != mainThread) {
                    ++offMainThread;
                }
            });
        }
    });
    worker.join();
    ASSERT_TRUE(runEventsUntil([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(order[i], i);
    }
    EXPECT_EQ(offMainThread, 0);
}

// The delay counts from the call, on whatever thread; the item runs on the main thread.
TEST_F(MainLoop, DelayedWorkJoinsTheQueueOnceItsDelayHasPassed) {
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::pair<std::string, double>> ran;
    bool onMainThread = true;
    const auto start = Clock::now();
    loop.asyncAfter(0.3, [&] { ran.emplace_back("0.3", secondsSince(start)); });
    std::thread worker([&] {
        loop.asyncAfter(0.15, [&] {
            ran.emplace_back("0.15 from a thread", secondsSince(start));
            onMainThread = std::this_thread::get_id() == mainThread;
        });
    });
    worker.join();
    loop.asyncAfter(0, [&] { ran.emplace_back("0", secondsSince(start)); });
    ASSERT_TRUE(runEventsUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran[0].first, "0");
    EXPECT_EQ(ran[1].first, "0.15 from a thread");
    EXPECT_EQ(ran[2].first, "0.3");
    EXPECT_GE(ran[1].second, 0.15);
    EXPECT_GE(ran[2].second, 0.3);
    EXPECT_TRUE(onMainThread);
}

// Ticks due at 0.3, 0.6 and 0.9 s fall into an alert open from about 0.05 to 1.05 s: one tick
// comes right after it closes, then the timer is back on its beat (1.2 s).
TEST_F(MainLoop, ARepeatingTimerHoldsItsTicksDuringAnAlertAndFiresOnceAfterIt) {
    const auto start = Clock::now();
    std::vector<double> ticks;
    auto timer = loop.scheduleRepeating(0.3, [&] { ticks.push_back(secondsSince(start)); });
    double opened = 0;
    double closed = 0;
    loop.asyncAfter(0.05, [&] {
        opened = secondsSince(start);
        whenAlertIsUp(1000ms, [&](QMessageBox& box) {
            closed = secondsSince(start);
            clickButton(box, "OK");
        });
        alerts.runModal({"Title", "Body", {}});
    });
    runEventsFor(1350ms);
    timer.reset();
    ASSERT_GT(closed, 0.9);
    for (double tick : ticks) {
        EXPECT_FALSE(tick > opened && tick < closed) << "tick at " << tick << " during the alert";
    }
    ASSERT_EQ(ticks.size(), 2u) << "ticks: " << ::testing::PrintToString(ticks);
    EXPECT_LT(ticks[0] - closed, 0.1);
    EXPECT_NEAR(ticks[1], 1.2, 0.08);
}

TEST_F(MainLoop, AOneShotTimerDueDuringAnAlertFiresOnceWhenItCloses) {
    const auto start = Clock::now();
    std::vector<double> ticks;
    double closed = 0;
    loop.scheduleOnce(0.1, [&] { ticks.push_back(secondsSince(start)); });
    loop.async([&] {
        whenAlertIsUp(400ms, [&](QMessageBox& box) {
            closed = secondsSince(start);
            clickButton(box, "OK");
        });
        alerts.runModal({"Title", "Body", {}});
    });
    runEventsFor(700ms);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_GE(ticks[0], closed);
}

// A timer destroyed while its tick is held never fires.
TEST_F(MainLoop, ARepeatingTimerDestroyedDuringAnAlertStaysSilent) {
    int ticks = 0;
    auto timer = loop.scheduleRepeating(0.05, [&] { ++ticks; });
    loop.async([&] {
        whenAlertIsUp(200ms, [&](QMessageBox& box) {
            timer.reset();
            clickButton(box, "OK");
        });
        alerts.runModal({"Title", "Body", {}});
    });
    runEventsFor(400ms);
    EXPECT_EQ(ticks, 0);
}

TEST_F(MainLoop, AlertsAnswerWithThePositionOfTheButtonClosingThem) {
    const platform::Alert threeButtons{"Title", "Body", {"Allow", "Later", "Cancel"}};
    whenAlertIsUp(20ms, [](QMessageBox& box) { clickButton(box, "Later"); });
    EXPECT_EQ(alerts.runModal(threeButtons), 1001);

    whenAlertIsUp(20ms, [](QMessageBox& box) { clickButton(box, "Allow"); });
    EXPECT_EQ(alerts.runModal(threeButtons), 1000);

    // Dismissed: the last button's answer.
    whenAlertIsUp(20ms, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(alerts.runModal(threeButtons), 1002);
    whenAlertIsUp(20ms, [](QMessageBox& box) { box.close(); });
    EXPECT_EQ(alerts.runModal(threeButtons), 1002);

    // Return takes the first, default button.
    whenAlertIsUp(20ms, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(alerts.runModal(threeButtons), 1000);
}

TEST_F(MainLoop, AnAlertWithoutButtonsHasASingleOk) {
    QStringList texts;
    QString shownText;
    QString shownInformative;
    whenAlertIsUp(20ms, [&](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons()) {
            texts << button->text();
        }
        shownText = box.text();
        shownInformative = box.informativeText();
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    EXPECT_EQ(alerts.runModal({"Accessibility permission needed", "Please allow it.", {}}), 1000);
    EXPECT_EQ(texts, QStringList{"OK"});
    EXPECT_EQ(shownText, "Accessibility permission needed");
    EXPECT_EQ(shownInformative, "Please allow it.");
}

} // namespace
} // namespace brimlow::testing
