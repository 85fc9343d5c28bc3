#pragma once

#include <functional>
#include <memory>

namespace brimlow::platform {

// A repeating timer; destroying it stops it.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// Timers on the main run loop. They fire on the main thread, never while a modal alert runs;
// a timer that fell due one or more times during the alert fires once when it has closed.
class RunLoopTimers {
public:
    using Tick = std::function<void()>;

    virtual ~RunLoopTimers() = default;
    // First tick `seconds` from now, then every `seconds`.
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(double seconds, Tick tick) = 0;
    // One tick `seconds` from now; the run loop keeps the timer until then.
    virtual void scheduleOnce(double seconds, Tick tick) = 0;
};

} // namespace brimlow::platform
