#include "MutterBusTest.h"
#include "platform/linux/wayland/MutterRemoteInput.h"
#include "platform/sim/SimDesktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace brimlow::e2e {
namespace {

using platform::Access;
using platform::linuxdesktop::MutterRemoteInput;

const QString remoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString sessionsPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop/Session");

// GNOME's remote desktop as the program meets it on headless mutter, and a session of the
// program's ended from outside, as GNOME Shell ends them all when the screen locks or the user
// presses the indicator's stop button.
class MutterSessionEnded : public MutterBusTest {
protected:
    void SetUp() override {
        MutterBusTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        input = std::make_unique<MutterRemoteInput>(notifications, "com.pellvane.Brimlow2", lock,
                                                    console);
    }
    void TearDown() override {
        input.reset();
        MutterBusTest::TearDown();
    }

    // Posts a move and waits for mutter's answer to it.
    bool moveDelivered() {
        platform::sim::DeliveryRecord move;
        input->postMouseMovedBy({-2, 2}, move.report());
        runUntil([&] { return !move.answers.empty(); }, 5s);
        return !move.answers.empty() && move.answers.front().delivered;
    }

    // Stops the program's remote-desktop session behind the back of the code that holds it.
    // Mutter takes Stop only from the session's own connection, so the call goes through the
    // process's session bus connection, as GNOME Shell's stop would reach it from inside mutter.
    void endTheSessionFromOutside() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusMessage introspected = bus.call(QDBusMessage::createMethodCall(
            remoteDesktop, sessionsPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
            QStringLiteral("Introspect")));
        ASSERT_EQ(introspected.type(), QDBusMessage::ReplyMessage);
        const QString xml = introspected.arguments().front().toString();
        const QRegularExpression node(QStringLiteral("<node name=\"([^\"]+)\""));
        int stopped = 0;
        for (auto match = node.globalMatch(xml); match.hasNext();) {
            QDBusMessage stop = bus.call(QDBusMessage::createMethodCall(
                remoteDesktop, sessionsPath + '/' + match.next().captured(1),
                QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), QStringLiteral("Stop")));
            EXPECT_EQ(stop.type(), QDBusMessage::ReplyMessage) << stop.errorMessage().toStdString();
            ++stopped;
        }
        ASSERT_EQ(stopped, 1) << xml.toStdString();
    }

    platform::sim::SimNotifications notifications;
    platform::sim::SimSessionLock lock;
    platform::sim::SimConsole console;
    std::unique_ptr<MutterRemoteInput> input;
};

TEST_F(MutterSessionEnded, WhileLockedThePermissionStaysAndTheNextMoveLandsAfterTheUnlock) {
    ASSERT_TRUE(moveDelivered()) << console.lines().size();
    lock.setLocked(true);
    endTheSessionFromOutside();
    runUntil([] { return false; }, 3s);
    EXPECT_EQ(input->check(), Access::granted);
    EXPECT_TRUE(notifications.posted.empty()) << "the permission was announced as changed";
    EXPECT_EQ(console.lines(), std::vector<std::string>{"The remote desktop session ended as the "
                                                        "screen locked; nudges go on once it is "
                                                        "unlocked"});
    lock.setLocked(false);
    EXPECT_TRUE(moveDelivered());
}

// GNOME Shell closes the sessions a moment before it says the screen is locked.
TEST_F(MutterSessionEnded, JustBeforeALockThePermissionStays) {
    ASSERT_TRUE(moveDelivered());
    endTheSessionFromOutside();
    runUntil([] { return false; }, 300ms);
    lock.setLocked(true);
    runUntil([] { return false; }, 3s);
    EXPECT_EQ(input->check(), Access::granted);
    EXPECT_TRUE(notifications.posted.empty());
}

// Only the user's stop button takes it back.
TEST_F(MutterSessionEnded, WhileUnlockedThePermissionIsWithdrawn) {
    ASSERT_TRUE(moveDelivered());
    endTheSessionFromOutside();
    ASSERT_TRUE(runUntil([&] { return !notifications.posted.empty(); }, 5s));
    EXPECT_EQ(notifications.posted.front().name, "com.apple.accessibility.api");
    EXPECT_EQ(input->check(), Access::undecided);
    EXPECT_FALSE(moveDelivered());
}

} // namespace
} // namespace brimlow::e2e
