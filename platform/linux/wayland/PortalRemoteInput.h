#pragma once

#include "platform/Console.h"
#include "platform/DistributedNotifications.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <string>

namespace brimlow::platform::linuxdesktop {

// Pointer moves through the desktop's RemoteDesktop portal (org.freedesktop.portal.RemoteDesktop),
// which asks the user in a dialog of its own. The permission is undecided until the portal has
// answered; request() opens the dialog; its answer is posted as a change of the permission;
// granted means a started session with a pointer. The session is kept for the life of the
// program (a portal of interface version 1 asks once per session). Persistence is asked for, and
// a restore token the portal gives back is kept in `restoreTokenFile`, so that a portal that
// can restore a session (version 2) starts it at the next start without asking. A session the
// user closes withdraws the permission until the user asks again. The portal is told the
// program's application id first, so that it keeps the answer for this program alone. Main
// thread only.
class PortalRemoteInput final : public QObject, public PointerEvents, public PostEventAccess {
    Q_OBJECT
public:
    // `identifier`, the bundle's, is the application id the portal is told, and the object of
    // the permission's changes posted on `notifications`.
    PortalRemoteInput(DistributedNotifications& notifications, std::string identifier,
                      std::string restoreTokenFile, Console& console);
    ~PortalRemoteInput() override;

    // The portal offers remote desktop sessions with a pointer on the session bus.
    static bool isAvailable();

    void postMouseMovedBy(Offset by, DeliveryReport report) override;
    Access check() override;
    void request() override;
    bool isTrusted() override { return state_ == State::started; }
    std::string requestOutcome() override;
    std::string grantPlace() override;

private slots:
    void sessionClosed();
    void answered(unsigned code, const QVariantMap& results);

private:
    enum class State { unasked, asking, started, refused, withdrawn };
    using Answered = std::function<void(const QVariantMap& results)>;

    // Starts a session: silently with a restore token the portal accepts, else by asking.
    void startSession();
    // Calls a portal method whose answer comes later as a Response on a request object, and runs
    // `answered` with its results when the user (or the portal) said yes.
    void callWithResponse(const QString& method, QList<QVariant> arguments, QVariantMap options,
                          Answered answered);
    void started(const QVariantMap& results);
    void refused(const std::string& why);
    void announceChange();
    std::string savedRestoreToken() const;

    DistributedNotifications& notifications_;
    const std::string identifier_;
    const std::string restoreTokenFile_;
    Console& console_;
    QDBusConnection bus_;
    unsigned version_ = 0;
    State state_ = State::unasked;
    QString sessionHandle_;
    QString requestPath_;
    Answered pending_;
    unsigned tokens_ = 0;
};

} // namespace brimlow::platform::linuxdesktop
