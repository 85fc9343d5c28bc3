#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>
#include <string>
#include <sys/types.h>

namespace brimlow::e2e {

// A private Qt D-Bus connection to the bus at an address, closed with the object. Every one
// has a name of its own, so closing one never closes another's, and a service the harness
// holds (a remote-desktop session, a bus name) lives exactly as long as the object.
class QtBusConnection {
public:
    // Throws if the bus does not answer.
    explicit QtBusConnection(const std::string& address);
    ~QtBusConnection();
    QtBusConnection(const QtBusConnection&) = delete;
    QtBusConnection& operator=(const QtBusConnection&) = delete;

    QDBusConnection& get() { return connection_; }

    // A blocking method call and its reply's arguments; throws with the D-Bus error when the
    // call fails, so a refusal never passes for an answer.
    QList<QVariant> call(const QString& service, const QString& path, const QString& interface,
                         const QString& method, const QList<QVariant>& arguments = {});
    // A property read through org.freedesktop.DBus.Properties; throws as call() does.
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name);
    // Whether anyone owns `name` on the bus now.
    bool hasOwner(const QString& name);
    // The process that owns `name` on the bus now; nothing while no one does.
    std::optional<pid_t> ownerPid(const QString& name);

private:
    QString name_;
    QDBusConnection connection_;
};

} // namespace brimlow::e2e
