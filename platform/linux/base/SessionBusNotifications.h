#pragma once

#include "MainLoopEvents.h"
#include "platform/Console.h"
#include "platform/DistributedNotifications.h"

#include <memory>
#include <string>

namespace brimlow::platform::linuxdesktop {

// Where a posting travels: a signal Posted(name, object) on the session bus, from any sender.
inline constexpr const char* notificationPath = "/com/pellvane/Brimlow2/Notifications";
inline constexpr const char* notificationInterface = "com.pellvane.Brimlow2.Notifications";
inline constexpr const char* notificationSignal = "Posted";

// Notifications over a session-bus connection of its own (libdbus, no Qt), so a helper without
// Qt and the program speak through the same code. The bus is the one DBUS_SESSION_BUS_ADDRESS
// names, else the user bus at $XDG_RUNTIME_DIR/bus; none is ever started for us. The
// connection is made on first use. Observers run on the main thread, as work posted to the
// loop; the bus sends each observer only the postings of its name (and object). Without a bus,
// observers are kept but never called and postings go nowhere; one line says so. Main thread
// only.
class SessionBusNotifications final : public DistributedNotifications {
public:
    SessionBusNotifications(MainLoopEvents& loop, Console& console);
    ~SessionBusNotifications() override;
    SessionBusNotifications(const SessionBusNotifications&) = delete;
    SessionBusNotifications& operator=(const SessionBusNotifications&) = delete;

    // Connects now rather than on first use, and says nothing: why the bus cannot be reached, in
    // a few words, or empty when it can.
    std::string connect();

    std::shared_ptr<Token> addObserver(const std::string& name,
                                       const std::optional<std::string>& object,
                                       Observer observer) override;
    void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) override;
    void post(const std::string& name, const std::string& object) override;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace brimlow::platform::linuxdesktop
