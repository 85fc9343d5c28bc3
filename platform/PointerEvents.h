#pragma once

namespace brimlow::platform {

// A point in global screen coordinates, y growing downwards.
struct Point {
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

// A move of the pointer by so many points in each direction, y growing downwards.
struct Offset {
    double dx = 0;
    double dy = 0;
};

// Synthetic events that move the pointer as hardware input would. Where the pointer is may not
// be known to the program at all (a Wayland client is never told), so moves are relative.
class PointerEvents {
public:
    virtual ~PointerEvents() = default;
    // Posts a mouse-moved event that takes the pointer `by` from wherever it is at that moment.
    // False when no event could be made; whether the system delivers a posted event is not known.
    virtual bool postMouseMovedBy(Offset by) = 0;
};

} // namespace brimlow::platform
