#pragma once

#include "platform/IdleClock.h"
#include "platform/linux/wayland/WaylandConnection.h"

#include <chrono>
#include <optional>
#include <string>

namespace brimlow::platform::linuxdesktop {

// Idle time from a compositor that only notifies: it says "idle" once a second has passed
// without input, and "resumed" at the next input, Brimlow's own moves included. Until then the
// idle time is that second plus the time since the notice. The first second counts from the
// subscription, at construction. The notices arrive on the connection's watch of Qt's loop.
// Main thread only.
class NotifiedIdleClock final : public IdleClock {
public:
    // The protocol the compositor offers for this, by its global's name, in the order they are
    // preferred (ext_idle_notifier_v1, org_kde_kwin_idle); nothing when it offers neither.
    static std::optional<std::string> offeredProtocol(const WaylandConnection& connection);

    // `connection` offers `offeredProtocol()` and outlives the clock.
    explicit NotifiedIdleClock(WaylandConnection& connection);
    ~NotifiedIdleClock() override;
    NotifiedIdleClock(const NotifiedIdleClock&) = delete;
    NotifiedIdleClock& operator=(const NotifiedIdleClock&) = delete;

    double secondsSinceLastInput() override;

private:
    static void idle(void* self);
    static void resumed(void* self);

    void* notifier_ = nullptr;
    void* notification_ = nullptr;
    bool extended_ = false;
    std::optional<std::chrono::steady_clock::time_point> idleSince_;
};

} // namespace brimlow::platform::linuxdesktop
