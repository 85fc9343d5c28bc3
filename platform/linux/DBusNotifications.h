#pragma once

#include "platform/Console.h"
#include "platform/DistributedNotifications.h"

#include <memory>

namespace brimlow::platform::linuxdesktop {

// Where a posting travels: a signal Posted(name, object) on the session bus, from any sender.
inline constexpr const char* notificationPath = "/com/pellvane/Brimlow2/Notifications";
inline constexpr const char* notificationInterface = "com.pellvane.Brimlow2.Notifications";
inline constexpr const char* notificationSignal = "Posted";

// Observers are called on the main thread. Each asks the bus only for postings of its own name.
// Without a session bus observers are kept but never called; one line says so.
class DBusNotifications final : public DistributedNotifications {
public:
    explicit DBusNotifications(Console& console);
    ~DBusNotifications() override;
    DBusNotifications(const DBusNotifications&) = delete;
    DBusNotifications& operator=(const DBusNotifications&) = delete;

    std::shared_ptr<Token> addObserver(const std::string& name, Observer observer) override;
    void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) override;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brimlow::platform::linuxdesktop
