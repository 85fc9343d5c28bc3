#pragma once

#include "platform/Console.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;

class QSocketNotifier;

namespace brimlow::platform::linuxdesktop {

// A connection of this program's own to the Wayland compositor (Qt 6.4 lends no access to its
// own), with the globals the compositor offered at connection time. Events are read on the Qt
// event loop as they arrive, and at once by dispatchArrived(). Main thread only.
class WaylandConnection {
public:
    // Connects to WAYLAND_DISPLAY; nothing, with one line, when there is no compositor there.
    static std::unique_ptr<WaylandConnection> open(Console& console);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // The compositor offers a global of this interface.
    bool offers(const std::string& interfaceName) const;
    // Some global's interface name starts with `prefix`.
    bool offersAnyStartingWith(const std::string& prefix) const;
    // Binds the global of `interface` at its version or `maxVersion`, whichever is lower;
    // nothing when it is not offered. The proxy belongs to the caller.
    void* bind(const wl_interface& interface, std::uint32_t maxVersion);
    // The first seat, bound at connection time; nothing in a session without one.
    wl_seat* seat() const { return seat_; }

    // Sends what is queued and handles every event that has already arrived, without waiting.
    void dispatchArrived();
    // Sends what is queued and waits for the compositor to have handled it.
    void roundtrip();
    // False once the compositor has ended the connection.
    bool working() const { return !failed_; }

private:
    struct Global {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };

    WaylandConnection(wl_display* display, Console& console);
    static void onGlobal(void* self, wl_registry*, std::uint32_t name, const char* interface,
                         std::uint32_t version);
    static void onGlobalRemoved(void*, wl_registry*, std::uint32_t) {}
    void reportFailure();

    wl_display* display_;
    Console& console_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<Global> globals_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool failed_ = false;
};

} // namespace brimlow::platform::linuxdesktop
