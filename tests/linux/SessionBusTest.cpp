#include "TestSupport.h"
#include "platform/Controls.h"
#include "platform/linux/base/PollApplication.h"
#include "platform/linux/base/SessionBusNotifications.h"
#include "platform/linux/qt/QtApplication.h"
#include "platform/linux/qt/QtMainLoop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QObject>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>

namespace brimlow::testing {

// Plays an already running copy of the program: takes Reopen calls on its own connection and
// thread, as another process would.
class RunningCopy final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pellvane.Brimlow2.Application")
public:
    std::atomic<int> reopens = 0;

public slots:
    void Reopen() { ++reopens; }
};

namespace {

using namespace platform::linuxdesktop;

class SessionBus : public ::testing::Test {
protected:
    void SetUp() override {
        usePrivateSessionBus();
        ensureQtApplication();
    }

    // Another program of the session.
    static QDBusConnection otherProgram() {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other-program");
    }

    static void post(const QString& name) {
        QDBusMessage signal =
            QDBusMessage::createSignal(notificationPath, notificationInterface, notificationSignal);
        signal << name << QString();
        ASSERT_TRUE(otherProgram().send(signal));
    }

    RecordingConsole console;
};

TEST_F(SessionBus, NotificationsReachTheirObserversOnTheMainThreadUntilRemoved) {
    QtMainLoop loop;
    SessionBusNotifications notifications(loop, console);
    const auto mainThread = std::this_thread::get_id();
    int pings = 0;
    int pongs = 0;
    bool onMainThread = true;
    auto pingToken = notifications.addObserver("com.example.ping", std::nullopt, [&] {
        ++pings;
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
    });
    auto pongToken = notifications.addObserver("com.example.pong", std::nullopt, [&] { ++pongs; });

    post("com.example.pong");
    post("com.example.ping");
    ASSERT_TRUE(runEventsUntil([&] { return pings == 1; }));
    EXPECT_EQ(pongs, 1);
    EXPECT_TRUE(onMainThread);

    // The wrong name removes nothing.
    notifications.removeObserver(pingToken, "com.example.pong");
    notifications.removeObserver(pingToken, "com.example.ping");
    notifications.removeObserver(pingToken, "com.example.ping");
    post("com.example.ping");
    post("com.example.pong");
    // Postings arrive in order: once the later one is in, the earlier one would have been.
    ASSERT_TRUE(runEventsUntil([&] { return pongs == 2; }));
    EXPECT_EQ(pings, 1);
    EXPECT_TRUE(console.lines().empty());
}

TEST_F(SessionBus, AnObserverMayRemoveItselfWhileItRuns) {
    QtMainLoop loop;
    SessionBusNotifications notifications(loop, console);
    int calls = 0;
    std::shared_ptr<platform::DistributedNotifications::Token> token;
    token = notifications.addObserver("com.example.once", std::nullopt, [&] {
        ++calls;
        notifications.removeObserver(token, "com.example.once");
    });
    int later = 0;
    notifications.addObserver("com.example.later", std::nullopt, [&] { ++later; });
    post("com.example.once");
    post("com.example.once");
    post("com.example.later");
    ASSERT_TRUE(runEventsUntil([&] { return later == 1; }));
    EXPECT_EQ(calls, 1);
}

// A helper's loop with the program on the other side of the bus: only postings of the observed
// name with the observed object reach it, and its loop ends when told.
TEST_F(SessionBus, AHelperHearsOnlyTheNameAndObjectItObserves) {
    QtMainLoop programLoop;
    SessionBusNotifications program(programLoop, console);
    PollApplication helper;
    SessionBusNotifications helperSide(helper, console);

    // Ends a helper that never hears what it waits for, so the test fails instead of hanging.
    const int alarm = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec fiveSeconds{{0, 0}, {5, 0}};
    ASSERT_EQ(timerfd_settime(alarm, 0, &fiveSeconds, nullptr), 0);
    helper.watchReadable(alarm, [&] { helper.terminate(); });

    std::vector<std::string> heard;
    struct Launched final : platform::LaunchDelegate {
        std::function<void()> launched;
        void applicationDidFinishLaunching() override { launched(); }
    } delegate;
    delegate.launched = [&] {
        helperSide.addObserver("killLauncher", std::string("com.pellvane.Brimlow2"), [&] {
            heard.push_back("Brimlow's");
            helper.terminate();
        });
        helperSide.addObserver("killLauncher", std::nullopt, [&] { heard.push_back("any"); });
        program.post("killLauncher", "com.pellvane.Brimlow");
        program.post("killLauncher", "");
        program.post("killlauncher", "com.pellvane.Brimlow2");
        program.post("killLauncher", "com.pellvane.Brimlow2");
    };
    EXPECT_EQ(helper.main(delegate), 0);
    close(alarm);
    EXPECT_EQ(heard, (std::vector<std::string>{"any", "any", "Brimlow's", "any"}));
    EXPECT_TRUE(console.lines().empty());
}

TEST_F(SessionBus, WithoutABusNoneIsStartedAndOneLineSaysSo) {
    ScopedEnvironment noAddress("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", nullptr);
    PollApplication loop;
    SessionBusNotifications notifications(loop, console);
    notifications.addObserver("killLauncher", std::nullopt, [] {});
    notifications.post("killLauncher", "com.pellvane.Brimlow2");
    EXPECT_EQ(console.lines(), std::vector<std::string>{"No D-Bus session bus: notifications "
                                                        "between programs are off"});
}

class RecordingDelegate final : public platform::ApplicationDelegate {
public:
    std::function<void()> launched;
    std::function<bool(bool)> reopened;
    void applicationDidFinishLaunching() override { launched(); }
    bool applicationShouldHandleReopen(bool visible) override { return reopened(visible); }
};

TEST_F(SessionBus, ASecondStartHandsItsRequestToTheRunningCopyAndLoadsNothing) {
    const QString busName = "com.example.BrimlowHandover";
    QThread thread;
    thread.start();
    RunningCopy copy;
    copy.moveToThread(&thread);
    QDBusConnection other = otherProgram();
    ASSERT_TRUE(other.registerObject(applicationPath, &copy, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(other.registerService(busName));

    QtMainLoop loop;
    // A copy from before activation tokens were handed over is asked plainly, token or not.
    ScopedEnvironment token("XDG_ACTIVATION_TOKEN", "token-from-the-launcher");
    QtApplication application(loop, {}, {}, console, busName.toStdString());
    RecordingDelegate delegate;
    bool loaded = false;
    int status = application.main([&](platform::MainInterface&) -> platform::ApplicationDelegate& {
        loaded = true;
        return delegate;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(copy.reopens, 1);

    other.unregisterService(busName);
    other.unregisterObject(applicationPath);
    thread.quit();
    thread.wait();
}

TEST_F(SessionBus, AFirstStartTakesTheNameLaunchesFirstAndTakesReopens) {
    const QString busName = "com.example.BrimlowFirst";
    QtMainLoop loop;
    QtApplication application(loop, {}, {}, console, busName.toStdString());
    RecordingDelegate delegate;
    std::vector<std::string> events;
    delegate.launched = [&] {
        events.push_back("launched");
        QDBusConnection bus = QDBusConnection::sessionBus();
        events.push_back(bus.interface()->serviceOwner(busName).value() == bus.baseService()
                             ? "owns the name"
                             : "does not own the name");
        // A second start, as it calls; the reply is not awaited here.
        otherProgram().asyncCall(QDBusMessage::createMethodCall(busName, applicationPath,
                                                                applicationInterface, "Reopen"));
    };
    delegate.reopened = [&](bool visible) {
        events.push_back(visible ? "reopen, window visible" : "reopen, window hidden");
        application.terminate();
        return true;
    };
    int status =
        application.main([&](platform::MainInterface& interface) -> platform::ApplicationDelegate& {
            events.push_back(interface.window().isVisible() ? "loaded on screen"
                                                            : "loaded off screen");
            loop.async([&] { events.push_back("queued while loading"); });
            return delegate;
        });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(events, (std::vector<std::string>{"loaded off screen", "launched", "owns the name",
                                                "queued while loading", "reopen, window hidden"}));
}

} // namespace
} // namespace brimlow::testing

#include "SessionBusTest.moc"
