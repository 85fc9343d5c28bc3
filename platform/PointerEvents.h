#pragma once

namespace brimlow::platform {

// A point in global screen coordinates, y growing downwards.
struct Point {
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

// The pointer, and synthetic events that move it as hardware input would.
class PointerEvents {
public:
    virtual ~PointerEvents() = default;
    virtual Point location() = 0;
    // Posts a mouse-moved event to `to`. False when no event could be made; whether the system
    // delivers a posted event is not known.
    virtual bool postMouseMoved(Point to) = 0;
};

} // namespace brimlow::platform
