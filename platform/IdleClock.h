#pragma once

namespace brimlow::platform {

// How long the user has left keyboard and pointer alone.
class IdleClock {
public:
    virtual ~IdleClock() = default;
    // Seconds since the last input event of any kind; 0 when the system can't tell.
    virtual double secondsSinceLastInput() = 0;
};

} // namespace brimlow::platform
