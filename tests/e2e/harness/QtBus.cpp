#include "QtBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <atomic>
#include <stdexcept>

namespace brimlow::e2e {
namespace {

constexpr int callTimeoutMs = 5000;

QString uniqueConnectionName() {
    static std::atomic<int> count{0};
    return QStringLiteral("brimlow-e2e-harness-%1").arg(++count);
}

} // namespace

QtBusConnection::QtBusConnection(const std::string& address)
    : name_(uniqueConnectionName()),
      connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name_)) {
    if (!connection_.isConnected()) {
        const auto error = connection_.lastError().message().toStdString();
        QDBusConnection::disconnectFromBus(name_);
        throw std::runtime_error("cannot connect to the bus at " + address + ": " + error);
    }
}

QtBusConnection::~QtBusConnection() {
    QDBusConnection::disconnectFromBus(name_);
}

QList<QVariant> QtBusConnection::call(const QString& service, const QString& path,
                                      const QString& interface, const QString& method,
                                      const QList<QVariant>& arguments) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = connection_.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        throw std::runtime_error((interface + "." + method + " on " + service + " " + path +
                                  " failed: " + reply.errorName() + ": " + reply.errorMessage())
                                     .toStdString());
    }
    return reply.arguments();
}

QVariant QtBusConnection::property(const QString& service, const QString& path,
                                   const QString& interface, const QString& name) {
    const auto reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {interface, name});
    if (reply.isEmpty()) {
        throw std::runtime_error(
            ("no value for property " + name + " of " + service + " " + path).toStdString());
    }
    return reply.first().value<QDBusVariant>().variant();
}

bool QtBusConnection::hasOwner(const QString& name) {
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    const auto reply = call(bus, QStringLiteral("/org/freedesktop/DBus"), bus,
                            QStringLiteral("NameHasOwner"), {name});
    return !reply.isEmpty() && reply.first().toBool();
}

std::optional<pid_t> QtBusConnection::ownerPid(const QString& name) {
    const auto reply = connection_.interface()->servicePid(name);
    if (!reply.isValid()) {
        return std::nullopt;
    }
    return pid_t(reply.value());
}

} // namespace brimlow::e2e
