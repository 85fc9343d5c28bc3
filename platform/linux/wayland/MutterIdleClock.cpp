#include "MutterIdleClock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace brimlow::platform::linuxdesktop {
namespace {

const QString service = QStringLiteral("org.gnome.Mutter.IdleMonitor");
// An answer slower than this would hold up the tick (and the window) for nothing.
constexpr int answerTimeoutMs = 500;

} // namespace

bool MutterIdleClock::isAvailable() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus != nullptr && bus->isServiceRegistered(service).value();
}

double MutterIdleClock::secondsSinceLastInput() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, answerTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1 ||
        !answer.arguments().front().canConvert<qulonglong>()) {
        if (!reported_) {
            console_.printLine("GNOME's idle monitor did not answer (" +
                               answer.errorMessage().toStdString() + "); idle time reads 0");
            reported_ = true;
        }
        return 0;
    }
    return double(answer.arguments().front().toULongLong()) / 1000.0;
}

} // namespace brimlow::platform::linuxdesktop
