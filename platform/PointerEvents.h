#pragma once

#include <functional>
#include <string>

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

// What became of a posted move: it reached the desktop, or it did not and `failure` says why,
// in words for the log.
struct Delivery {
    bool delivered = true;
    std::string failure;

    static Delivery failed(std::string why) { return {false, std::move(why)}; }
};

// Synthetic events that move the pointer as hardware input would. Where the pointer is may not
// be known to the program at all (a Wayland client is never told), so moves are relative.
class PointerEvents {
public:
    // Called exactly once for every move, on the main thread: before postMouseMovedBy returns
    // where the mechanism knows at once, or later, when the desktop has answered.
    using DeliveryReport = std::function<void(const Delivery&)>;

    virtual ~PointerEvents() = default;
    // Posts a mouse-moved event that takes the pointer `by` from wherever it is at that moment.
    virtual void postMouseMovedBy(Offset by, DeliveryReport report) = 0;
};

} // namespace brimlow::platform
