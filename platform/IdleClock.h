#pragma once

namespace brimlow::platform {

// How long the user has left keyboard and pointer alone.
class IdleClock {
public:
    virtual ~IdleClock() = default;
    // Seconds since the last input event of any kind, in whole milliseconds (the unit X servers
    // and compositors count in); 0 when the system can't tell.
    virtual double secondsSinceLastInput() = 0;
};

} // namespace brimlow::platform
