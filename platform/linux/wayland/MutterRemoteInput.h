#pragma once

#include "platform/Console.h"
#include "platform/DistributedNotifications.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <string>

namespace brimlow::platform::linuxdesktop {

// Pointer moves through GNOME's compositor: an org.gnome.Mutter.RemoteDesktop session with
// relative pointer motion. Mutter lets any program of the session do this without asking, so
// the permission is granted from the start. GNOME Shell shows a screen-sharing indicator while a
// session runs, so a session is held only while moves come (it closes once none has come for a
// while), and a session the user stops from the indicator withdraws the permission: no session
// is opened again until the user asks again (request()). Main thread only.
class MutterRemoteInput final : public QObject, public PointerEvents, public PostEventAccess {
    Q_OBJECT
public:
    // Changes of the permission are posted on `notifications` with `poster` as their object.
    MutterRemoteInput(DistributedNotifications& notifications, std::string poster,
                      Console& console);
    ~MutterRemoteInput() override;

    // The compositor offers remote desktop sessions with a pointer on the session bus.
    static bool isAvailable();

    // The move goes out once the session has started (a few milliseconds for the first one).
    bool postMouseMovedBy(Offset by) override;

    Access check() override { return withdrawn_ ? Access::undecided : Access::granted; }
    void request() override;
    bool isTrusted() override { return !withdrawn_; }
    std::string requestOutcome() override;
    std::string grantPlace() override;

private slots:
    void sessionClosed();

private:
    enum class State { closed, opening, started, stopping };

    void openSession();
    void startSession();
    void sendPending();
    void closeSession();
    void failed(const std::string& what, const QString& error);
    void announceChange();

    DistributedNotifications& notifications_;
    const std::string poster_;
    Console& console_;
    State state_ = State::closed;
    QString sessionPath_;
    std::deque<Offset> pending_;
    QTimer closeTimer_;
    bool withdrawn_ = false;
};

} // namespace brimlow::platform::linuxdesktop
