#include "DBusNotifications.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace brimlow::platform::linuxdesktop {
namespace {

class DBusToken final : public DistributedNotifications::Token {};

// One per observer: the bus delivers the signal to a slot of a QObject.
class Receiver final : public QObject {
    Q_OBJECT
public:
    Receiver(QObject* parent, std::string observedName, DistributedNotifications::Observer observer)
        : QObject(parent), name(std::move(observedName)), observer_(std::move(observer)) {}

    const std::string name;

    void stop() { observer_ = nullptr; }

public slots:
    void posted(const QString& postedName, const QString&) {
        if (observer_ && postedName.toStdString() == name) {
            // A copy: the observer may remove itself while it runs.
            auto observer = observer_;
            observer();
        }
    }

private:
    DistributedNotifications::Observer observer_;
};

bool subscribe(Receiver* receiver) {
    return QDBusConnection::sessionBus().connect(
        QString(), notificationPath, notificationInterface, notificationSignal,
        QStringList{QString::fromStdString(receiver->name)}, QStringLiteral("ss"), receiver,
        SLOT(posted(QString, QString)));
}

void unsubscribe(Receiver* receiver) {
    QDBusConnection::sessionBus().disconnect(
        QString(), notificationPath, notificationInterface, notificationSignal,
        QStringList{QString::fromStdString(receiver->name)}, QStringLiteral("ss"), receiver,
        SLOT(posted(QString, QString)));
}

bool sameOwner(const std::weak_ptr<DistributedNotifications::Token>& a,
               const std::shared_ptr<DistributedNotifications::Token>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

class DBusNotifications::Impl {
public:
    explicit Impl(Console& output) : console(output) {}

    Console& console;
    bool reported = false;
    QObject receivers;
    // By the token's identity, which outlives the token itself, so a token the program dropped
    // can never be mistaken for a later one.
    std::vector<std::pair<std::weak_ptr<DistributedNotifications::Token>, QPointer<Receiver>>>
        observers;
};

DBusNotifications::DBusNotifications(Console& console) : impl_(std::make_unique<Impl>(console)) {}

DBusNotifications::~DBusNotifications() = default;

std::shared_ptr<DistributedNotifications::Token>
DBusNotifications::addObserver(const std::string& name, Observer observer) {
    auto token = std::make_shared<DBusToken>();
    auto* receiver = new Receiver(&impl_->receivers, name, std::move(observer));
    if (!subscribe(receiver) && !impl_->reported) {
        impl_->console.printLine("No D-Bus session bus: notifications from other programs (" +
                                 name + ") will not arrive");
        impl_->reported = true;
    }
    impl_->observers.emplace_back(token, receiver);
    return token;
}

void DBusNotifications::removeObserver(const std::shared_ptr<Token>& token,
                                       const std::string& name) {
    auto found =
        std::find_if(impl_->observers.begin(), impl_->observers.end(), [&](const auto& entry) {
            return sameOwner(entry.first, token) && entry.second && entry.second->name == name;
        });
    if (found == impl_->observers.end()) {
        return;
    }
    Receiver* receiver = found->second;
    impl_->observers.erase(found);
    unsubscribe(receiver);
    receiver->stop();
    // It may be the receiver whose observer is running now.
    receiver->deleteLater();
}

} // namespace brimlow::platform::linuxdesktop

#include "DBusNotifications.moc"
