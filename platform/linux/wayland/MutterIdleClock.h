#pragma once

#include "platform/Console.h"
#include "platform/IdleClock.h"

namespace brimlow::platform::linuxdesktop {

// Idle time from GNOME's compositor: GetIdletime of org.gnome.Mutter.IdleMonitor's core monitor
// on the session bus, which counts the input of every device, remote-desktop input included.
// Main thread only.
class MutterIdleClock final : public IdleClock {
public:
    explicit MutterIdleClock(Console& console) : console_(console) {}

    // The compositor offers the monitor on the session bus.
    static bool isAvailable();

    // 0, with one line the first time, when the compositor does not answer.
    double secondsSinceLastInput() override;

private:
    Console& console_;
    bool reported_ = false;
};

} // namespace brimlow::platform::linuxdesktop
