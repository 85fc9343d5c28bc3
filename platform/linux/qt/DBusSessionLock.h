#pragma once

#include "platform/SessionLock.h"

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// The session's lock state from every source a desktop offers, side by side: logind's
// LockedHint of the program's own login session (system bus), and the screen savers of the
// session bus (freedesktop's, GNOME's, Cinnamon's, MATE's, Xfce's) with their GetActive and
// ActiveChanged. Locked while any source says so. Each is read once at start and then followed by
// its change signals; a screen saver that starts later is asked as it appears, and one that quits
// no longer counts. Nothing is polled. Main thread only.
class DBusSessionLock final : public QObject, public SessionLock {
    Q_OBJECT
public:
    DBusSessionLock();

    bool isLocked() const override;
    void observe(std::function<void()> changed) override;
    // The sources heard from at start, for the start-up line.
    std::string description() const;

private slots:
    void screenSaverChanged(bool active, const QDBusMessage& signal);
    void loginSessionChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    void followLoginSession();
    void followScreenSavers();
    void askScreenSaver(const QString& service);
    void askLoginSession();
    void set(const QString& source, bool locked);
    void forget(const QString& source);
    void announceIfChanged(bool lockedBefore);

    QString loginSessionPath_;
    QDBusServiceWatcher screenSaverWatcher_;
    // Each source that answers, by name, and whether it says locked.
    std::map<QString, bool> lockedBy_;
    std::vector<std::function<void()>> observers_;
};

} // namespace brimlow::platform::linuxdesktop
