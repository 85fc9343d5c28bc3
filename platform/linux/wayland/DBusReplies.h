#pragma once

#include "platform/PointerEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <string>

namespace brimlow::platform::linuxdesktop {

// Sends `call` on `bus` and runs `done` with the reply once it arrives, on the main thread,
// unless `context` is gone by then.
template <typename Done>
void whenAnswered(QObject* context, QDBusConnection bus, const QDBusMessage& call, Done done) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         done(QDBusMessage(watcher->reply()));
                     });
}

// Sends `motion`, a call that moves the pointer, and reports the move delivered once the
// desktop has answered it without an error; an error is reported after `whatFailed`.
inline void reportDeliveryOnReply(QObject* context, QDBusConnection bus, const QDBusMessage& motion,
                                  PointerEvents::DeliveryReport report,
                                  const std::string& whatFailed) {
    whenAnswered(context, std::move(bus), motion, [report, whatFailed](const QDBusMessage& answer) {
        if (answer.type() == QDBusMessage::ReplyMessage) {
            report({});
        } else {
            report(Delivery::failed(whatFailed + ": " + answer.errorMessage().toStdString()));
        }
    });
}

} // namespace brimlow::platform::linuxdesktop
