#include "MutterRemoteInput.h"

#include "DBusReplies.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace brimlow::platform::linuxdesktop {
namespace {

const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString managerPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString managerInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString sessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
constexpr unsigned pointerDevice = 2;
// A nudge's way back comes a second after its way out; the session ends a little after that.
constexpr int idleSessionMs = 1500;
// GNOME Shell closes the sessions and announces the lock separately, in either order.
constexpr int lockAnnouncementMs = 2000;

QDBusMessage sessionCall(const QString& path, const QString& method) {
    return QDBusMessage::createMethodCall(service, path, sessionInterface, method);
}

} // namespace

MutterRemoteInput::MutterRemoteInput(DistributedNotifications& notifications, std::string poster,
                                     SessionLock& lock, Console& console)
    : notifications_(notifications), poster_(std::move(poster)), lock_(lock), console_(console) {
    closeTimer_.setSingleShot(true);
    closeTimer_.setInterval(idleSessionMs);
    connect(&closeTimer_, &QTimer::timeout, this, [this] { closeSession(); });
    withdrawalTimer_.setSingleShot(true);
    withdrawalTimer_.setInterval(lockAnnouncementMs);
    connect(&withdrawalTimer_, &QTimer::timeout, this, [this] { withdraw(); });
    lock_.observe([this] { lockChanged(); });
}

MutterRemoteInput::~MutterRemoteInput() {
    // The compositor ends the session with our connection anyway; this ends it at once.
    if (state_ == State::started || state_ == State::opening) {
        QDBusConnection::sessionBus().call(sessionCall(sessionPath_, QStringLiteral("Stop")),
                                           QDBus::NoBlock);
    }
}

bool MutterRemoteInput::isAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.interface() == nullptr || !bus.interface()->isServiceRegistered(service).value()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, managerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << managerInterface << QStringLiteral("SupportedDeviceTypes");
    QDBusMessage answer = bus.call(get, QDBus::Block, 1000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return false;
    }
    const uint types = answer.arguments().front().value<QDBusVariant>().variant().toUInt();
    return (types & pointerDevice) != 0;
}

void MutterRemoteInput::postMouseMovedBy(Offset by, DeliveryReport report) {
    if (withdrawn_ || withdrawalTimer_.isActive()) {
        report(Delivery::failed("The remote desktop session was stopped: no pointer moves"));
        return;
    }
    pending_.push_back({by, std::move(report)});
    if (state_ == State::closed) {
        openSession();
    } else if (state_ == State::started) {
        sendPending();
    }
}

void MutterRemoteInput::openSession() {
    state_ = State::opening;
    whenAnswered(this, QDBusConnection::sessionBus(),
                 QDBusMessage::createMethodCall(service, managerPath, managerInterface,
                                                QStringLiteral("CreateSession")),
                 [this](const QDBusMessage& answer) {
                     if (answer.type() != QDBusMessage::ReplyMessage ||
                         answer.arguments().isEmpty()) {
                         failed("open", answer.errorMessage());
                         return;
                     }
                     sessionPath_ = answer.arguments().front().value<QDBusObjectPath>().path();
                     startSession();
                 });
}

void MutterRemoteInput::startSession() {
    QDBusConnection::sessionBus().connect(service, sessionPath_, sessionInterface,
                                          QStringLiteral("Closed"), this, SLOT(sessionClosed()));
    whenAnswered(this, QDBusConnection::sessionBus(),
                 sessionCall(sessionPath_, QStringLiteral("Start")),
                 [this](const QDBusMessage& answer) {
                     if (answer.type() != QDBusMessage::ReplyMessage) {
                         failed("start", answer.errorMessage());
                         return;
                     }
                     state_ = State::started;
                     sendPending();
                 });
}

void MutterRemoteInput::sendPending() {
    for (; !pending_.empty(); pending_.pop_front()) {
        QDBusMessage motion =
            sessionCall(sessionPath_, QStringLiteral("NotifyPointerMotionRelative"));
        motion << pending_.front().by.dx << pending_.front().by.dy;
        reportDeliveryOnReply(this, QDBusConnection::sessionBus(), motion, pending_.front().report,
                              "Could not move the pointer in the remote desktop session");
    }
    closeTimer_.start();
}

void MutterRemoteInput::closeSession() {
    state_ = State::stopping;
    QDBusConnection::sessionBus().call(sessionCall(sessionPath_, QStringLiteral("Stop")),
                                       QDBus::NoBlock);
}

// Ours when we stopped it; otherwise the screen locked, or the user stopped it (GNOME Shell's
// indicator) and nudging stops until the user asks again.
void MutterRemoteInput::sessionClosed() {
    QDBusConnection::sessionBus().disconnect(service, sessionPath_, sessionInterface,
                                             QStringLiteral("Closed"), this, SLOT(sessionClosed()));
    const bool ours = state_ == State::stopping;
    state_ = State::closed;
    closeTimer_.stop();
    if (ours) {
        if (!pending_.empty()) {
            openSession();
        }
        return;
    }
    failPending("The remote desktop session was closed before the pointer moved");
    if (lock_.isLocked()) {
        endedByTheLock();
    } else {
        withdrawalTimer_.start();
    }
}

void MutterRemoteInput::lockChanged() {
    if (lock_.isLocked() && withdrawalTimer_.isActive()) {
        withdrawalTimer_.stop();
        endedByTheLock();
    }
}

void MutterRemoteInput::endedByTheLock() {
    console_.printLine("The remote desktop session ended as the screen locked; nudges go on once "
                       "it is unlocked");
}

void MutterRemoteInput::withdraw() {
    withdrawn_ = true;
    console_.printLine("The remote desktop session was stopped: no more nudges until the "
                       "warning button in Brimlow's window is pressed");
    announceChange();
}

// The caller says it once, however many moves fail the same way.
void MutterRemoteInput::failed(const std::string& what, const QString& error) {
    state_ = State::closed;
    failPending("Could not " + what + " a remote desktop session: " + error.toStdString());
}

void MutterRemoteInput::failPending(const std::string& why) {
    auto failing = std::move(pending_);
    pending_.clear();
    for (const auto& move : failing) {
        move.report(Delivery::failed(why));
    }
}

void MutterRemoteInput::request() {
    withdrawn_ = false;
    withdrawalTimer_.stop();
    // After the caller has started to listen for the answer.
    QMetaObject::invokeMethod(
        this, [this] { announceChange(); }, Qt::QueuedConnection);
}

void MutterRemoteInput::announceChange() {
    notifications_.post(accessChangedNotification, poster_);
}

std::string MutterRemoteInput::requestOutcome() {
    return "Brimlow will move the pointer through your desktop's remote desktop again. While it "
           "does, your desktop may show a screen-sharing indicator, whose stop button takes the "
           "permission back.";
}

std::string MutterRemoteInput::grantPlace() {
    return "your desktop's remote desktop (GNOME lets the programs of your session use it)";
}

} // namespace brimlow::platform::linuxdesktop
