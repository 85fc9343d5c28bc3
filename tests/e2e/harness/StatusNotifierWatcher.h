#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::e2e {

class QtBusConnection;

// A tray icon as a StatusNotifierItem host finds it: the bus name its program holds and the
// object that answers for it there.
struct StatusNotifierItem {
    std::string service;
    std::string path;
    // How the watcher lists it in RegisteredStatusNotifierItems: the two joined.
    std::string id() const { return service + path; }
    bool operator==(const StatusNotifierItem&) const = default;
};

// An item's ToolTip property (icon name, title, text); its pixmaps are not kept.
struct StatusNotifierToolTip {
    std::string iconName;
    std::string title;
    std::string description;
};

// The tray of a Wayland session as far as a program can tell: org.kde.StatusNotifierWatcher
// on a session bus, with a host registered. QSystemTrayIcon finds a tray only when this is
// there before it starts, then registers its item here. It answers on a thread of its own, so
// a test may block on anything meanwhile; items are dropped when their program leaves the bus.
class StatusNotifierWatcher {
public:
    // Returns once it owns the name on the bus at `busAddress`; throws if it cannot (someone
    // else owns it).
    explicit StatusNotifierWatcher(const std::string& busAddress);
    ~StatusNotifierWatcher();
    StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
    StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

    // The items registered and still on the bus, in the order they came.
    std::vector<StatusNotifierItem> items() const;

    // A text property of the item (org.kde.StatusNotifierItem: Title, Id, Status, IconName,
    // ...), read as a host reads it; nothing if the item does not answer with a text.
    std::optional<std::string> textProperty(const StatusNotifierItem& item,
                                            const std::string& name) const;
    // Its ToolTip property; nothing if the item does not answer with one.
    std::optional<StatusNotifierToolTip> toolTip(const StatusNotifierItem& item) const;

private:
    class Service;

    std::unique_ptr<Service> service_;
    std::unique_ptr<QtBusConnection> reader_;
};

} // namespace brimlow::e2e
