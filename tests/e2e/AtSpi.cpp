#include "AtSpi.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QString>
#include <optional>

namespace brimlow::e2e {
namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
constexpr int callTimeoutMs = 3000;

// Opens a private connection and closes it with the object, so no test leaves one behind.
class BusConnection {
public:
    BusConnection(const std::string& address, const QString& name)
        : name_(name),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name)) {}
    ~BusConnection() { QDBusConnection::disconnectFromBus(name_); }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;
    QDBusConnection& get() { return connection_; }

private:
    QString name_;
    QDBusConnection connection_;
};

std::optional<QList<QVariant>> call(QDBusConnection& bus, const QString& service,
                                    const QString& path, const QString& interface,
                                    const QString& method, const QList<QVariant>& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    return reply.arguments();
}

std::optional<QString> accessibilityBusAddress(QDBusConnection& session) {
    auto reply = call(session, QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                      QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    if (!reply || reply->isEmpty()) {
        return std::nullopt;
    }
    return reply->first().toString();
}

std::optional<QString> connectionOfProcess(QDBusConnection& bus, pid_t pid) {
    const auto names = bus.interface()->registeredServiceNames().value();
    for (const QString& name : names) {
        if (name.startsWith(':') && bus.interface()->servicePid(name).value() == uint(pid)) {
            return name;
        }
    }
    return std::nullopt;
}

std::vector<QString> childPaths(QDBusConnection& bus, const QString& service) {
    auto reply = call(bus, service, rootPath, accessibleInterface, QStringLiteral("GetChildren"));
    std::vector<QString> paths;
    if (!reply || reply->isEmpty()) {
        return paths;
    }
    const auto argument = reply->first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString owner;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> owner >> path;
        argument.endStructure();
        paths.push_back(path.path());
    }
    argument.endArray();
    return paths;
}

std::string nameOf(QDBusConnection& bus, const QString& service, const QString& path) {
    auto reply = call(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("Get"), {accessibleInterface, QStringLiteral("Name")});
    if (!reply || reply->isEmpty()) {
        return {};
    }
    return reply->first().value<QDBusVariant>().variant().toString().toStdString();
}

std::string roleNameOf(QDBusConnection& bus, const QString& service, const QString& path) {
    auto reply = call(bus, service, path, accessibleInterface, QStringLiteral("GetRoleName"));
    return reply && !reply->isEmpty() ? reply->first().toString().toStdString() : std::string();
}

Rect extentsOf(QDBusConnection& bus, const QString& service, const QString& path) {
    constexpr uint screenCoordinates = 0;
    auto reply = call(bus, service, path, QStringLiteral("org.a11y.atspi.Component"),
                      QStringLiteral("GetExtents"), {QVariant::fromValue(screenCoordinates)});
    Rect rect;
    if (reply && !reply->isEmpty()) {
        const auto argument = reply->first().value<QDBusArgument>();
        argument.beginStructure();
        argument >> rect.x >> rect.y >> rect.width >> rect.height;
        argument.endStructure();
    }
    return rect;
}

} // namespace

std::vector<AccessibleObject> topLevelAccessibles(const std::string& sessionBusAddress, pid_t pid) {
    BusConnection session(sessionBusAddress, QStringLiteral("e2e-session"));
    auto address = accessibilityBusAddress(session.get());
    if (!address) {
        return {};
    }
    BusConnection a11y(address->toStdString(), QStringLiteral("e2e-a11y"));
    auto service = connectionOfProcess(a11y.get(), pid);
    if (!service) {
        return {};
    }
    std::vector<AccessibleObject> objects;
    for (const QString& path : childPaths(a11y.get(), *service)) {
        objects.push_back({nameOf(a11y.get(), *service, path),
                           roleNameOf(a11y.get(), *service, path),
                           extentsOf(a11y.get(), *service, path)});
    }
    return objects;
}

} // namespace brimlow::e2e
