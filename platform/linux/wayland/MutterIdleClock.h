#pragma once

#include "platform/Console.h"
#include "platform/IdleClock.h"

#include <memory>

namespace brimlow::platform::linuxdesktop {

// Idle time from GNOME's compositor: org.gnome.Mutter.IdleMonitor's core monitor on the session
// bus, which counts the input of every device, remote-desktop input included. The monitor is
// asked once, at construction; from then on it tells: a watch fires once a second has passed
// without input, and another at the next input after that. The idle time is then that second
// plus the time since, 0 after the input, so a tick costs no message on the bus. Main thread
// only.
class MutterIdleClock final : public IdleClock {
public:
    explicit MutterIdleClock(Console& console);
    ~MutterIdleClock() override;
    MutterIdleClock(const MutterIdleClock&) = delete;
    MutterIdleClock& operator=(const MutterIdleClock&) = delete;

    // The compositor offers the monitor on the session bus.
    static bool isAvailable();

    // 0, with one line, when the compositor would not set up its watches.
    double secondsSinceLastInput() override;

    class Watches;

private:
    std::unique_ptr<Watches> watches_;
};

} // namespace brimlow::platform::linuxdesktop
