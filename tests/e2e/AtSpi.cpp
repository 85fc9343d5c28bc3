#include "AtSpi.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QString>
#include <algorithm>
#include <optional>

namespace brimlow::e2e {
namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString actionInterface = QStringLiteral("org.a11y.atspi.Action");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
constexpr int callTimeoutMs = 3000;

// Opens a private connection and closes it with the object, so no test leaves one behind.
class BusConnection {
public:
    BusConnection(const std::string& address, const QString& name)
        : name_(name),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name)) {}
    ~BusConnection() { QDBusConnection::disconnectFromBus(name_); }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;
    QDBusConnection& get() { return connection_; }

private:
    QString name_;
    QDBusConnection connection_;
};

std::optional<QList<QVariant>> call(QDBusConnection& bus, const QString& service,
                                    const QString& path, const QString& interface,
                                    const QString& method, const QList<QVariant>& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    return reply.arguments();
}

std::optional<QString> accessibilityBusAddress(QDBusConnection& session) {
    auto reply = call(session, QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                      QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    if (!reply || reply->isEmpty()) {
        return std::nullopt;
    }
    return reply->first().toString();
}

std::optional<QString> connectionOfProcess(QDBusConnection& bus, pid_t pid) {
    const auto names = bus.interface()->registeredServiceNames().value();
    for (const QString& name : names) {
        if (name.startsWith(':') && bus.interface()->servicePid(name).value() == uint(pid)) {
            return name;
        }
    }
    return std::nullopt;
}

std::vector<QString> childPaths(QDBusConnection& bus, const QString& service,
                                const QString& parent) {
    auto reply = call(bus, service, parent, accessibleInterface, QStringLiteral("GetChildren"));
    std::vector<QString> paths;
    if (!reply || reply->isEmpty()) {
        return paths;
    }
    const auto argument = reply->first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString owner;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> owner >> path;
        argument.endStructure();
        paths.push_back(path.path());
    }
    argument.endArray();
    return paths;
}

std::string nameOf(QDBusConnection& bus, const QString& service, const QString& path) {
    auto reply = call(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("Get"), {accessibleInterface, QStringLiteral("Name")});
    if (!reply || reply->isEmpty()) {
        return {};
    }
    return reply->first().value<QDBusVariant>().variant().toString().toStdString();
}

std::string roleNameOf(QDBusConnection& bus, const QString& service, const QString& path) {
    auto reply = call(bus, service, path, accessibleInterface, QStringLiteral("GetRoleName"));
    return reply && !reply->isEmpty() ? reply->first().toString().toStdString() : std::string();
}

Rect extentsOf(QDBusConnection& bus, const QString& service, const QString& path) {
    constexpr uint screenCoordinates = 0;
    auto reply = call(bus, service, path, QStringLiteral("org.a11y.atspi.Component"),
                      QStringLiteral("GetExtents"), {QVariant::fromValue(screenCoordinates)});
    Rect rect;
    if (reply && !reply->isEmpty()) {
        const auto argument = reply->first().value<QDBusArgument>();
        argument.beginStructure();
        argument >> rect.x >> rect.y >> rect.width >> rect.height;
        argument.endStructure();
    }
    return rect;
}

bool isShowing(QDBusConnection& bus, const QString& service, const QString& path) {
    // AT-SPI's state set: two 32-bit words, bit 25 of the first is "showing".
    constexpr uint showingBit = 1u << 25;
    auto reply = call(bus, service, path, accessibleInterface, QStringLiteral("GetState"));
    if (!reply || reply->isEmpty()) {
        return false;
    }
    const auto argument = reply->first().value<QDBusArgument>();
    std::vector<uint> words;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint word = 0;
        argument >> word;
        words.push_back(word);
    }
    argument.endArray();
    return !words.empty() && (words.front() & showingBit) != 0;
}

std::vector<std::string> actionsOf(QDBusConnection& bus, const QString& service,
                                   const QString& path) {
    auto reply = call(bus, service, path, actionInterface, QStringLiteral("GetActions"));
    std::vector<std::string> names;
    if (!reply || reply->isEmpty()) {
        return names;
    }
    const auto argument = reply->first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString name;
        QString description;
        QString keyBinding;
        argument.beginStructure();
        argument >> name >> description >> keyBinding;
        argument.endStructure();
        names.push_back(name.toStdString());
    }
    argument.endArray();
    return names;
}

// The process's objects as seen over the accessibility bus of one session bus; the connections
// close with the object.
class ProcessAccessibles {
public:
    ProcessAccessibles(const std::string& sessionBusAddress, pid_t pid)
        : session_(sessionBusAddress, QStringLiteral("e2e-session")) {
        auto address = accessibilityBusAddress(session_.get());
        if (!address) {
            return;
        }
        a11y_.emplace(address->toStdString(), QStringLiteral("e2e-a11y"));
        service_ = connectionOfProcess(a11y_->get(), pid);
    }
    bool found() const { return service_.has_value(); }
    QDBusConnection& bus() { return a11y_->get(); }
    const QString& service() const { return *service_; }

    AccessibleNode node(const QString& path, int depth) {
        AccessibleNode node{path.toStdString(),
                            nameOf(bus(), service(), path),
                            roleNameOf(bus(), service(), path),
                            extentsOf(bus(), service(), path),
                            isShowing(bus(), service(), path),
                            actionsOf(bus(), service(), path),
                            {}};
        // Deep enough for any dialog; a cycle in a broken tree cannot hang the test.
        if (depth < 12) {
            for (const QString& child : childPaths(bus(), service(), path)) {
                node.children.push_back(this->node(child, depth + 1));
            }
        }
        return node;
    }

private:
    BusConnection session_;
    std::optional<BusConnection> a11y_;
    std::optional<QString> service_;
};

void describeInto(const AccessibleNode& node, int depth, std::string& text) {
    text += "\n" + std::string(std::size_t(depth) * 2 + 2, ' ') + "[" + node.roleName + "] \"" +
            node.name + "\" at " + describe(node.extents) + (node.showing ? "" : " (hidden)");
    for (const auto& action : node.actions) {
        text += " <" + action + ">";
    }
    for (const auto& child : node.children) {
        describeInto(child, depth + 1, text);
    }
}

const AccessibleNode* findIn(const AccessibleNode& node,
                             const std::function<bool(const AccessibleNode&)>& match) {
    if (match(node)) {
        return &node;
    }
    for (const auto& child : node.children) {
        if (const auto* found = findIn(child, match)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

std::vector<AccessibleObject> topLevelAccessibles(const std::string& sessionBusAddress, pid_t pid) {
    ProcessAccessibles process(sessionBusAddress, pid);
    if (!process.found()) {
        return {};
    }
    std::vector<AccessibleObject> objects;
    for (const QString& path : childPaths(process.bus(), process.service(), rootPath)) {
        objects.push_back({nameOf(process.bus(), process.service(), path),
                           roleNameOf(process.bus(), process.service(), path),
                           extentsOf(process.bus(), process.service(), path)});
    }
    return objects;
}

std::vector<AccessibleNode> accessibleTrees(const std::string& sessionBusAddress, pid_t pid) {
    ProcessAccessibles process(sessionBusAddress, pid);
    if (!process.found()) {
        return {};
    }
    std::vector<AccessibleNode> trees;
    for (const QString& path : childPaths(process.bus(), process.service(), rootPath)) {
        trees.push_back(process.node(path, 0));
    }
    return trees;
}

const AccessibleNode* findAccessible(const std::vector<AccessibleNode>& trees,
                                     const std::function<bool(const AccessibleNode&)>& match) {
    for (const auto& tree : trees) {
        if (const auto* found = findIn(tree, match)) {
            return found;
        }
    }
    return nullptr;
}

std::vector<std::string> accessibleNames(const AccessibleNode& tree) {
    std::vector<std::string> names;
    if (!tree.name.empty()) {
        names.push_back(tree.name);
    }
    for (const auto& child : tree.children) {
        for (auto& name : accessibleNames(child)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::string describe(const std::vector<AccessibleNode>& trees) {
    std::string text;
    for (const auto& tree : trees) {
        describeInto(tree, 0, text);
    }
    return text.empty() ? " none" : text;
}

bool doAccessibleAction(const std::string& sessionBusAddress, pid_t pid, const std::string& path,
                        const std::string& action) {
    ProcessAccessibles process(sessionBusAddress, pid);
    if (!process.found()) {
        return false;
    }
    const QString objectPath = QString::fromStdString(path);
    const auto names = actionsOf(process.bus(), process.service(), objectPath);
    auto named = std::find(names.begin(), names.end(), action);
    if (named == names.end()) {
        return false;
    }
    auto reply =
        call(process.bus(), process.service(), objectPath, actionInterface,
             QStringLiteral("DoAction"), {QVariant::fromValue(int(named - names.begin()))});
    return reply && !reply->isEmpty() && reply->first().toBool();
}

} // namespace brimlow::e2e
