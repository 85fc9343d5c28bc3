#include "DBusSessionLock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <algorithm>
#include <optional>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString loginSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString lockedHint = QStringLiteral("LockedHint");
// The name a source goes by in the start-up line and in lockedBy_.
const QString logindSource = QStringLiteral("logind's LockedHint");
// A screen saver that doesn't answer at once is asked again as its signals come.
constexpr int startupAnswerMs = 500;

// Each of these owns its name on the session bus and serves its interface at this path.
struct ScreenSaver {
    QString service;
    QString path;
};
const ScreenSaver screenSavers[] = {
    {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver")},
    {QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver")},
    {QStringLiteral("org.cinnamon.ScreenSaver"), QStringLiteral("/org/cinnamon/ScreenSaver")},
    {QStringLiteral("org.mate.ScreenSaver"), QStringLiteral("/org/mate/ScreenSaver")},
    {QStringLiteral("org.xfce.ScreenSaver"), QStringLiteral("/org/xfce/ScreenSaver")},
};

const ScreenSaver* screenSaverNamed(const QString& service) {
    auto found = std::find_if(std::begin(screenSavers), std::end(screenSavers),
                              [&](const ScreenSaver& saver) { return saver.service == service; });
    return found == std::end(screenSavers) ? nullptr : found;
}

QDBusMessage getActive(const ScreenSaver& saver) {
    // The interface is named as the service is.
    return QDBusMessage::createMethodCall(saver.service, saver.path, saver.service,
                                          QStringLiteral("GetActive"));
}

std::optional<bool> activeIn(const QDBusMessage& answer) {
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return std::nullopt;
    }
    return answer.arguments().front().toBool();
}

QDBusMessage lockedHintOf(const QString& sessionPath) {
    QDBusMessage get =
        QDBusMessage::createMethodCall(login1, sessionPath, properties, QStringLiteral("Get"));
    get << loginSessionInterface << lockedHint;
    return get;
}

std::optional<bool> hintIn(const QDBusMessage& answer) {
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return std::nullopt;
    }
    return answer.arguments().front().value<QDBusVariant>().variant().toBool();
}

// The login session this process belongs to: by its process, else by the session's
// environment (a program started by a user service manager belongs to none by process).
QString ownLoginSession(QDBusConnection& system) {
    const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
    const QString managerPath = QStringLiteral("/org/freedesktop/login1");
    QDBusMessage byPid = QDBusMessage::createMethodCall(login1, managerPath, manager,
                                                        QStringLiteral("GetSessionByPID"));
    byPid << uint(getpid());
    QDBusMessage answer = system.call(byPid, QDBus::Block, startupAnswerMs);
    if (answer.type() != QDBusMessage::ReplyMessage &&
        qEnvironmentVariableIsSet("XDG_SESSION_ID")) {
        QDBusMessage byId = QDBusMessage::createMethodCall(login1, managerPath, manager,
                                                           QStringLiteral("GetSession"));
        byId << qEnvironmentVariable("XDG_SESSION_ID");
        answer = system.call(byId, QDBus::Block, startupAnswerMs);
    }
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return {};
    }
    return answer.arguments().front().value<QDBusObjectPath>().path();
}

} // namespace

DBusSessionLock::DBusSessionLock() {
    followLoginSession();
    followScreenSavers();
}

bool DBusSessionLock::isLocked() const {
    return std::any_of(lockedBy_.begin(), lockedBy_.end(),
                       [](const auto& source) { return source.second; });
}

void DBusSessionLock::observe(std::function<void()> changed) {
    observers_.push_back(std::move(changed));
}

std::string DBusSessionLock::description() const {
    if (lockedBy_.empty()) {
        return "no screen lock state yet: logind knows no session of Brimlow's and no screen "
               "saver answers on the session bus";
    }
    QStringList sources;
    for (const auto& source : lockedBy_) {
        sources << source.first;
    }
    return "screen lock state from " + sources.join(QStringLiteral(", ")).toStdString();
}

// Without a system bus or logind (a container, a desktop without systemd) there is no such
// source, and that is no error.
void DBusSessionLock::followLoginSession() {
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected()) {
        return;
    }
    loginSessionPath_ = ownLoginSession(system);
    if (loginSessionPath_.isEmpty()) {
        return;
    }
    system.connect(login1, loginSessionPath_, properties, QStringLiteral("PropertiesChanged"), this,
                   SLOT(loginSessionChanged(QString, QVariantMap, QStringList)));
    if (auto locked =
            hintIn(system.call(lockedHintOf(loginSessionPath_), QDBus::Block, startupAnswerMs))) {
        set(logindSource, *locked);
    }
}

void DBusSessionLock::followScreenSavers() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QStringList services;
    for (const ScreenSaver& saver : screenSavers) {
        services << saver.service;
        bus.connect(saver.service, saver.path, saver.service, QStringLiteral("ActiveChanged"), this,
                    SLOT(screenSaverChanged(bool, QDBusMessage)));
    }
    screenSaverWatcher_.setConnection(bus);
    screenSaverWatcher_.setWatchMode(QDBusServiceWatcher::WatchForRegistration |
                                     QDBusServiceWatcher::WatchForUnregistration);
    screenSaverWatcher_.setWatchedServices(services);
    connect(&screenSaverWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
            [this](const QString& service) { askScreenSaver(service); });
    connect(&screenSaverWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
            [this](const QString& service) { forget(service); });
    const QStringList running = bus.interface()->registeredServiceNames().value();
    for (const ScreenSaver& saver : screenSavers) {
        if (running.contains(saver.service)) {
            if (auto active = activeIn(bus.call(getActive(saver), QDBus::Block, startupAnswerMs))) {
                set(saver.service, *active);
            }
        }
    }
}

// A service of that name that doesn't answer GetActive (GNOME's settings daemon owns
// org.freedesktop.ScreenSaver only to take inhibitions) is no source.
void DBusSessionLock::askScreenSaver(const QString& service) {
    const ScreenSaver* saver = screenSaverNamed(service);
    if (saver == nullptr) {
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(getActive(*saver)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, service](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                if (auto active = activeIn(QDBusMessage(watcher->reply()))) {
                    set(service, *active);
                }
            });
}

void DBusSessionLock::askLoginSession() {
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::systemBus().asyncCall(lockedHintOf(loginSessionPath_)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                if (auto locked = hintIn(QDBusMessage(watcher->reply()))) {
                    set(logindSource, *locked);
                }
            });
}

void DBusSessionLock::screenSaverChanged(bool active, const QDBusMessage& signal) {
    set(signal.interface(), active);
}

void DBusSessionLock::loginSessionChanged(const QString& interface, const QVariantMap& changed,
                                          const QStringList& invalidated) {
    if (interface != loginSessionInterface) {
        return;
    }
    if (changed.contains(lockedHint)) {
        set(logindSource, changed.value(lockedHint).toBool());
    } else if (invalidated.contains(lockedHint)) {
        askLoginSession();
    }
}

void DBusSessionLock::set(const QString& source, bool locked) {
    const bool lockedBefore = isLocked();
    lockedBy_[source] = locked;
    announceIfChanged(lockedBefore);
}

void DBusSessionLock::forget(const QString& source) {
    const bool lockedBefore = isLocked();
    lockedBy_.erase(source);
    announceIfChanged(lockedBefore);
}

void DBusSessionLock::announceIfChanged(bool lockedBefore) {
    if (isLocked() == lockedBefore) {
        return;
    }
    for (const auto& changed : observers_) {
        changed();
    }
}

} // namespace brimlow::platform::linuxdesktop
