#include "MutterRemoteInput.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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

QDBusMessage sessionCall(const QString& path, const QString& method) {
    return QDBusMessage::createMethodCall(service, path, sessionInterface, method);
}

// Runs `done` with the reply once it arrives.
template <typename Done> void whenAnswered(QObject* context, const QDBusMessage& call, Done done) {
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         done(QDBusMessage(watcher->reply()));
                     });
}

} // namespace

MutterRemoteInput::MutterRemoteInput(DistributedNotifications& notifications, std::string poster,
                                     Console& console)
    : notifications_(notifications), poster_(std::move(poster)), console_(console) {
    closeTimer_.setSingleShot(true);
    closeTimer_.setInterval(idleSessionMs);
    connect(&closeTimer_, &QTimer::timeout, this, [this] { closeSession(); });
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

bool MutterRemoteInput::postMouseMovedBy(Offset by) {
    if (withdrawn_) {
        return false;
    }
    pending_.push_back(by);
    if (state_ == State::closed) {
        openSession();
    } else if (state_ == State::started) {
        sendPending();
    }
    return true;
}

void MutterRemoteInput::openSession() {
    state_ = State::opening;
    whenAnswered(this,
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
    whenAnswered(this, sessionCall(sessionPath_, QStringLiteral("Start")),
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
        motion << pending_.front().dx << pending_.front().dy;
        QDBusConnection::sessionBus().call(motion, QDBus::NoBlock);
    }
    closeTimer_.start();
}

void MutterRemoteInput::closeSession() {
    state_ = State::stopping;
    QDBusConnection::sessionBus().call(sessionCall(sessionPath_, QStringLiteral("Stop")),
                                       QDBus::NoBlock);
}

// Ours when we stopped it; otherwise the user stopped it (GNOME Shell's indicator) or the
// compositor ended it, and nudging stops until the user asks again.
void MutterRemoteInput::sessionClosed() {
    QDBusConnection::sessionBus().disconnect(service, sessionPath_, sessionInterface,
                                             QStringLiteral("Closed"), this, SLOT(sessionClosed()));
    const bool ours = state_ == State::stopping;
    state_ = State::closed;
    closeTimer_.stop();
    if (!ours) {
        pending_.clear();
        withdrawn_ = true;
        console_.printLine("The remote desktop session was stopped: no more nudges until the "
                           "warning button in Brimlow's window is pressed");
        announceChange();
    } else if (!pending_.empty()) {
        openSession();
    }
}

void MutterRemoteInput::failed(const std::string& what, const QString& error) {
    console_.printLine("Could not " + what + " a remote desktop session: " + error.toStdString());
    state_ = State::closed;
    pending_.clear();
}

void MutterRemoteInput::request() {
    withdrawn_ = false;
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
