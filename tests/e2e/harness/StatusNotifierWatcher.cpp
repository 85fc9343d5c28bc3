#include "StatusNotifierWatcher.h"

#include "QtBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <future>
#include <mutex>
#include <stdexcept>

namespace brimlow::e2e {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherInterface = watcherService;
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
// Where an item is when it registers by bus name alone.
const QString defaultItemPath = QStringLiteral("/StatusNotifierItem");
const QString itemsProperty = QStringLiteral("RegisteredStatusNotifierItems");
const QString hostProperty = QStringLiteral("IsStatusNotifierHostRegistered");
const QString versionProperty = QStringLiteral("ProtocolVersion");
const QStringList properties = {itemsProperty, hostProperty, versionProperty};

// Qt's tray icon reads the host property through a QDBusInterface, which learns the
// properties from this.
const QString introspection = QStringLiteral(R"(
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
)");

} // namespace

// The watcher's bus connection and object live on this thread, whose event loop answers
// calls whatever the test's thread is doing.
class StatusNotifierWatcher::Service : public QThread {
public:
    explicit Service(std::string address) : address_(std::move(address)) {}
    ~Service() override {
        quit();
        wait();
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    void startAndWait() {
        auto ready = ready_.get_future();
        start();
        if (const auto error = ready.get(); !error.empty()) {
            wait();
            throw std::runtime_error(error);
        }
    }

    std::vector<StatusNotifierItem> items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }

protected:
    void run() override;

private:
    class Object;

    std::string address_;
    std::promise<std::string> ready_;
    mutable std::mutex mutex_;
    std::vector<StatusNotifierItem> items_;
};

class StatusNotifierWatcher::Service::Object : public QDBusVirtualObject {
public:
    Object(Service& service, QtBusConnection& bus, QDBusServiceWatcher& owners)
        : service_(service), bus_(bus), owners_(owners) {}

    QString introspect(const QString&) const override { return introspection; }

    // Anything not answered here (Introspect, unknown methods) Qt answers itself.
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const QString member = message.member();
        if (message.interface() == propertiesInterface) {
            answerProperties(message);
            return true;
        }
        if (!message.interface().isEmpty() && message.interface() != watcherInterface) {
            return false;
        }
        if (member == QLatin1String("RegisterStatusNotifierItem") && message.signature() == "s") {
            registerItem(message);
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierHost") && message.signature() == "s") {
            bus_.get().send(message.createReply());
            return true;
        }
        return false;
    }

    // Its program left the bus, or gave up the name.
    void dropItemsOf(const QString& service) {
        std::vector<StatusNotifierItem> dropped;
        {
            std::lock_guard lock(service_.mutex_);
            auto& items = service_.items_;
            std::copy_if(items.begin(), items.end(), std::back_inserter(dropped),
                         [&](const auto& item) { return item.service == service.toStdString(); });
            std::erase_if(items,
                          [&](const auto& item) { return item.service == service.toStdString(); });
        }
        owners_.removeWatchedService(service);
        for (const auto& item : dropped) {
            announce(QStringLiteral("StatusNotifierItemUnregistered"), item);
        }
    }

private:
    // The argument is the item's bus name (its object then at /StatusNotifierItem) or, from
    // some programs, its object path on the caller's own connection.
    void registerItem(const QDBusMessage& message) {
        const QString argument = message.arguments().constFirst().toString();
        const bool byPath = argument.startsWith(QLatin1Char('/'));
        const QString service = byPath ? message.service() : argument;
        const StatusNotifierItem item{service.toStdString(),
                                      (byPath ? argument : defaultItemPath).toStdString()};
        // Watched before the owner is checked, so an owner leaving in between is still seen.
        owners_.addWatchedService(service);
        if (service.isEmpty() || !bus_.hasOwner(service)) {
            bus_.get().send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
                QStringLiteral("no one owns ") + service));
            return;
        }
        bool added = false;
        {
            std::lock_guard lock(service_.mutex_);
            auto& items = service_.items_;
            if (std::find(items.begin(), items.end(), item) == items.end()) {
                items.push_back(item);
                added = true;
            }
        }
        bus_.get().send(message.createReply());
        if (added) {
            announce(QStringLiteral("StatusNotifierItemRegistered"), item);
        }
    }

    void announce(const QString& signal, const StatusNotifierItem& item) {
        auto message = QDBusMessage::createSignal(watcherPath, watcherInterface, signal);
        message << QString::fromStdString(item.id());
        bus_.get().send(message);
    }

    QVariant propertyValue(const QString& name) const {
        if (name == itemsProperty) {
            QStringList ids;
            for (const auto& item : service_.items()) {
                ids << QString::fromStdString(item.id());
            }
            return ids;
        }
        if (name == hostProperty) {
            return true;
        }
        if (name == versionProperty) {
            return 0;
        }
        return {};
    }

    void answerProperties(const QDBusMessage& message) {
        const auto arguments = message.arguments();
        const QString member = message.member();
        const bool ours = arguments.value(0).toString() == watcherInterface;
        QDBusMessage reply;
        if (member == QLatin1String("Get") && message.signature() == "ss") {
            const QVariant value = ours ? propertyValue(arguments.at(1).toString()) : QVariant();
            reply = value.isValid()
                        ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                        : message.createErrorReply(
                              QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                              QStringLiteral("no such property"));
        } else if (member == QLatin1String("GetAll") && message.signature() == "s") {
            QVariantMap all;
            for (const auto& name : ours ? properties : QStringList()) {
                all.insert(name, propertyValue(name));
            }
            reply = message.createReply(all);
        } else if (member == QLatin1String("Set")) {
            reply = message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                QStringLiteral("the watcher's properties are read-only"));
        } else {
            reply = message.createErrorReply(QDBusError::UnknownMethod, member);
        }
        bus_.get().send(reply);
    }

    Service& service_;
    QtBusConnection& bus_;
    QDBusServiceWatcher& owners_;
};

void StatusNotifierWatcher::Service::run() {
    bool announced = false;
    try {
        QtBusConnection bus(address_);
        QDBusServiceWatcher owners;
        owners.setConnection(bus.get());
        owners.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        Object object(*this, bus, owners);
        QObject::connect(&owners, &QDBusServiceWatcher::serviceUnregistered, &object,
                         [&object](const QString& service) { object.dropItemsOf(service); });
        if (!bus.get().registerVirtualObject(watcherPath, &object)) {
            throw std::runtime_error("cannot publish the watcher object");
        }
        if (!bus.get().registerService(watcherService)) {
            throw std::runtime_error("cannot own org.kde.StatusNotifierWatcher: " +
                                     bus.get().lastError().message().toStdString());
        }
        ready_.set_value({});
        announced = true;
        exec();
        bus.get().unregisterService(watcherService);
        bus.get().unregisterObject(watcherPath);
    } catch (const std::exception& error) {
        if (!announced) {
            ready_.set_value(error.what());
        }
    }
}

StatusNotifierWatcher::StatusNotifierWatcher(const std::string& busAddress)
    : service_(std::make_unique<Service>(busAddress)) {
    service_->startAndWait();
    reader_ = std::make_unique<QtBusConnection>(busAddress);
}

StatusNotifierWatcher::~StatusNotifierWatcher() = default;

std::vector<StatusNotifierItem> StatusNotifierWatcher::items() const {
    return service_->items();
}

std::optional<std::string> StatusNotifierWatcher::textProperty(const StatusNotifierItem& item,
                                                               const std::string& name) const {
    try {
        const QVariant value = reader_->property(QString::fromStdString(item.service),
                                                 QString::fromStdString(item.path), itemInterface,
                                                 QString::fromStdString(name));
        if (value.typeId() != QMetaType::QString) {
            return std::nullopt;
        }
        return value.toString().toStdString();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<StatusNotifierToolTip>
StatusNotifierWatcher::toolTip(const StatusNotifierItem& item) const {
    QVariant value;
    try {
        value = reader_->property(QString::fromStdString(item.service),
                                  QString::fromStdString(item.path), itemInterface,
                                  QStringLiteral("ToolTip"));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!value.canConvert<QDBusArgument>()) {
        return std::nullopt;
    }
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(sa(iiay)ss)")) {
        return std::nullopt;
    }
    QString iconName;
    QString title;
    QString description;
    argument.beginStructure();
    argument >> iconName;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray pixels;
        argument.beginStructure();
        argument >> width >> height >> pixels;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> description;
    argument.endStructure();
    return StatusNotifierToolTip{iconName.toStdString(), title.toStdString(),
                                 description.toStdString()};
}

} // namespace brimlow::e2e
