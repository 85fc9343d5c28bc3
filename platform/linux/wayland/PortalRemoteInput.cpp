#include "PortalRemoteInput.h"

#include "DBusReplies.h"
#include "platform/linux/base/Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

namespace brimlow::platform::linuxdesktop {
namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString hostRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
constexpr unsigned pointerDevice = 2;
// Kept until the user revokes it, as the portal's persist modes number it.
constexpr unsigned persistUntilRevoked = 2;
constexpr unsigned userCancelled = 1;
// The portal may have to be started first.
constexpr int propertyTimeoutMs = 5000;
// Long enough for a portal that restores a session without asking.
constexpr int restoreTimeoutMs = 5000;
constexpr std::size_t largestToken = 4096;

QVariant portalProperty(QDBusConnection bus, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, desktopPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << remoteDesktop << name;
    QDBusMessage answer = bus.call(get, QDBus::Block, propertyTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return {};
    }
    return answer.arguments().front().value<QDBusVariant>().variant();
}

// Where the portal puts the request object for `token`, so its Response can be listened for
// before the call that creates it.
// A handle the portal may give as a string or as an object path.
QString pathValue(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                               : value.toString();
}

QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1).replace('.', '_');
    return desktopPath + QStringLiteral("/request/") + sender + '/' + token;
}

// A session bus connection of the portal input's own, on which the portal knows the program by
// `applicationId`: it keeps the user's answer for that application rather than for every program
// it cannot identify. The id has to be registered before anything else is asked of the portal on
// the connection, which the toolkit's own connection cannot promise. A portal without the host
// registry (before 1.20) identifies the program itself.
QDBusConnection registeredPortalConnection(const std::string& applicationId, Console& console) {
    static unsigned opened = 0;
    QDBusConnection bus = QDBusConnection::connectToBus(
        QDBusConnection::SessionBus, QStringLiteral("brimlow-portal-%1").arg(++opened));
    QDBusMessage registration = QDBusMessage::createMethodCall(service, desktopPath, hostRegistry,
                                                               QStringLiteral("Register"));
    registration << QString::fromStdString(applicationId) << QVariantMap();
    QDBusMessage answer = bus.call(registration, QDBus::Block, propertyTimeoutMs);
    const QString error = answer.errorName();
    if (answer.type() == QDBusMessage::ErrorMessage &&
        error != QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") &&
        error != QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface")) {
        console.printLine("The desktop portal did not register Brimlow as " + applicationId + " (" +
                          answer.errorMessage().toStdString() +
                          "): it keeps the answer for unidentified programs");
    }
    return bus;
}

} // namespace

PortalRemoteInput::PortalRemoteInput(DistributedNotifications& notifications,
                                     std::string identifier, std::string restoreTokenFile,
                                     Console& console)
    : notifications_(notifications), identifier_(std::move(identifier)),
      restoreTokenFile_(std::move(restoreTokenFile)), console_(console),
      bus_(registeredPortalConnection(identifier_, console_)),
      version_(portalProperty(bus_, QStringLiteral("version")).toUInt()) {
    if (version_ >= 2 && !savedRestoreToken().empty()) {
        // Settled before the program looks: a restored session means nothing to ask for.
        QEventLoop wait;
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.start(restoreTimeoutMs);
        startSession();
        while (state_ == State::asking && timeout.isActive()) {
            wait.processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
}

PortalRemoteInput::~PortalRemoteInput() {
    // The portal closes the sessions of a connection that leaves the bus, as of a program that
    // quit.
    QDBusConnection::disconnectFromBus(bus_.name());
}

bool PortalRemoteInput::isAvailable() {
    return (portalProperty(QDBusConnection::sessionBus(), QStringLiteral("AvailableDeviceTypes"))
                .toUInt() &
            pointerDevice) != 0;
}

Access PortalRemoteInput::check() {
    switch (state_) {
    case State::started:
        return Access::granted;
    case State::refused:
        return Access::denied;
    default:
        return Access::undecided;
    }
}

void PortalRemoteInput::request() {
    if (state_ != State::asking && state_ != State::started) {
        startSession();
    }
}

void PortalRemoteInput::postMouseMovedBy(Offset by, DeliveryReport report) {
    if (state_ != State::started) {
        report(Delivery::failed("The remote desktop portal has given no pointer"));
        return;
    }
    QDBusMessage motion = QDBusMessage::createMethodCall(service, desktopPath, remoteDesktop,
                                                         QStringLiteral("NotifyPointerMotion"));
    motion << QVariant::fromValue(QDBusObjectPath(sessionHandle_)) << QVariantMap() << by.dx
           << by.dy;
    reportDeliveryOnReply(this, bus_, motion, std::move(report),
                          "Could not move the pointer through the remote desktop portal");
}

void PortalRemoteInput::startSession() {
    state_ = State::asking;
    QVariantMap options{
        {QStringLiteral("session_handle_token"), QStringLiteral("brimlow%1").arg(++tokens_)}};
    callWithResponse(QStringLiteral("CreateSession"), {}, options, [this](const QVariantMap& r) {
        sessionHandle_ = pathValue(r.value(QStringLiteral("session_handle")));
        bus_.connect(service, sessionHandle_, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(sessionClosed()));
        QVariantMap devices{{QStringLiteral("types"), pointerDevice}};
        if (version_ >= 2) {
            devices[QStringLiteral("persist_mode")] = persistUntilRevoked;
            if (std::string token = savedRestoreToken(); !token.empty()) {
                devices[QStringLiteral("restore_token")] = QString::fromStdString(token);
            }
        }
        const QList<QVariant> session{QVariant::fromValue(QDBusObjectPath(sessionHandle_))};
        callWithResponse(
            QStringLiteral("SelectDevices"), session, devices, [this, session](const QVariantMap&) {
                callWithResponse(QStringLiteral("Start"), session + QList<QVariant>{QString()}, {},
                                 [this](const QVariantMap& results) { started(results); });
            });
    });
}

void PortalRemoteInput::callWithResponse(const QString& method, QList<QVariant> arguments,
                                         QVariantMap options, Answered answered) {
    const QString token = QStringLiteral("brimlow%1").arg(++tokens_);
    options[QStringLiteral("handle_token")] = token;
    requestPath_ = requestPath(bus_, token);
    pending_ = std::move(answered);
    bus_.connect(service, requestPath_, requestInterface, QStringLiteral("Response"), this,
                 SLOT(answered(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, remoteDesktop, method);
    arguments.append(options);
    call.setArguments(arguments);
    QDBusMessage reply = bus_.call(call, QDBus::Block, propertyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        refused(reply.errorMessage().toStdString());
    }
}

void PortalRemoteInput::answered(unsigned code, const QVariantMap& results) {
    bus_.disconnect(service, requestPath_, requestInterface, QStringLiteral("Response"), this,
                    SLOT(answered(uint, QVariantMap)));
    if (code != 0) {
        refused(code == userCancelled ? "you did not allow it" : "the portal ended the request");
        return;
    }
    Answered next = std::move(pending_);
    next(results);
}

void PortalRemoteInput::started(const QVariantMap& results) {
    if ((results.value(QStringLiteral("devices")).toUInt() & pointerDevice) == 0) {
        refused("no pointer was shared");
        return;
    }
    state_ = State::started;
    if (QString token = results.value(QStringLiteral("restore_token")).toString();
        !token.isEmpty()) {
        if (std::string failure =
                replaceFileAtomically(restoreTokenFile_, token.toStdString(), 0600);
            !failure.empty()) {
            console_.printLine("Could not keep the remote desktop permission for the next start: " +
                               failure);
        }
    }
    announceChange();
}

void PortalRemoteInput::refused(const std::string& why) {
    state_ = State::refused;
    console_.printLine("The remote desktop portal gave no pointer: " + why);
    announceChange();
}

void PortalRemoteInput::sessionClosed() {
    if (state_ != State::started) {
        return;
    }
    state_ = State::withdrawn;
    console_.printLine("The remote desktop session was closed: no more nudges until the warning "
                       "button in Brimlow's window is pressed");
    announceChange();
}

void PortalRemoteInput::announceChange() {
    notifications_.post(accessChangedNotification, identifier_);
}

std::string PortalRemoteInput::savedRestoreToken() const {
    return readSmallFile(restoreTokenFile_, largestToken).value_or("");
}

std::string PortalRemoteInput::requestOutcome() {
    return "Your desktop will now ask you in its remote desktop dialog: switch on \u201cAllow "
           "remote interaction\u201d and share.";
}

std::string PortalRemoteInput::grantPlace() {
    return "the remote desktop dialog your desktop shows when Brimlow asks (switch on \u201cAllow "
           "remote interaction\u201d)";
}

} // namespace brimlow::platform::linuxdesktop
