#pragma once

#include "platform/Console.h"
#include "platform/DistributedNotifications.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"
#include "platform/SessionLock.h"

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
// is opened again until the user asks again (request()). GNOME Shell also ends every session
// when the screen locks, and that is no withdrawal: a session that ends while `lock` says
// locked, or just before it does, keeps the permission. Main thread only.
class MutterRemoteInput final : public QObject, public PointerEvents, public PostEventAccess {
    Q_OBJECT
public:
    // Changes of the permission are posted on `notifications` with `poster` as their object.
    MutterRemoteInput(DistributedNotifications& notifications, std::string poster,
                      SessionLock& lock, Console& console);
    ~MutterRemoteInput() override;

    // The compositor offers remote desktop sessions with a pointer on the session bus.
    static bool isAvailable();

    // The move goes out once the session has started (a few milliseconds for the first one),
    // and is delivered once mutter has answered it.
    void postMouseMovedBy(Offset by, DeliveryReport report) override;

    Access check() override { return withdrawn_ ? Access::undecided : Access::granted; }
    void request() override;
    bool isTrusted() override { return !withdrawn_; }
    std::string requestOutcome() override;
    std::string grantPlace() override;

private slots:
    void sessionClosed();

private:
    enum class State { closed, opening, started, stopping };
    struct Move {
        Offset by;
        DeliveryReport report;
    };

    void openSession();
    void startSession();
    void sendPending();
    void closeSession();
    void failed(const std::string& what, const QString& error);
    void failPending(const std::string& why);
    void lockChanged();
    void endedByTheLock();
    void withdraw();
    void announceChange();

    DistributedNotifications& notifications_;
    const std::string poster_;
    SessionLock& lock_;
    Console& console_;
    State state_ = State::closed;
    QString sessionPath_;
    std::deque<Move> pending_;
    QTimer closeTimer_;
    // Runs from a session's end that came while the session was unlocked: a lock within it was
    // the cause, else the user was.
    QTimer withdrawalTimer_;
    bool withdrawn_ = false;
};

} // namespace brimlow::platform::linuxdesktop
