#pragma once

#include "Geometry.h"
#include "Process.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::e2e {

// A position on the oracle's surface, in logical pixels from its top-left corner. The surface
// covers the whole screen, so this is also the position on the screen.
struct SurfacePoint {
    double x = 0;
    double y = 0;
    bool operator==(const SurfacePoint&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SurfacePoint& at);

struct PointerEvent {
    enum class Kind { Enter, Motion, Leave };
    Kind kind = Kind::Motion;
    // Where the pointer entered or moved to; for Leave, nothing meaningful.
    SurfacePoint at;
    Clock::time_point arrived;
};

// One line of the oracle's output as an event; nothing for any other line.
std::optional<PointerEvent> parsePointerLine(const OutputLine& line);

// The oracle program as this build made it; nothing when the build lacked the Wayland
// development files (libwayland-dev, wayland-protocols).
std::optional<std::filesystem::path> pointerOraclePath();

// What every client of a Wayland session sees of the pointer: the positions at which it enters
// and crosses a fullscreen surface of the test's own (the oracle, a program of its own started
// as a Child). Wayland tells no client where the pointer is otherwise, so this stands in for
// XQueryPointer. A headless mutter has no pointer until a remote-desktop session makes one;
// the first event then comes with the first move.
class PointerOracle {
public:
    // Starts the oracle with `env` (HeadlessMutter::clientEnvironment()) and returns once its
    // surface is on screen; throws if it is not within 10 s.
    explicit PointerOracle(const Environment& env);

    Child& process() { return *oracle_; }
    // Its surface's area on screen.
    const Rect& surface() const { return surface_; }

    // Every event so far, in order.
    std::vector<PointerEvent> events() const;
    // Waits until there are at least `count` events; true if there are.
    bool waitForEvents(std::size_t count, Clock::time_point deadline) const;
    // Where the pointer is as of the last event; nothing before the first or after a leave.
    std::optional<SurfacePoint> position() const;
    // Waits until the last event puts the pointer at `at`; true if it does.
    bool waitForPosition(SurfacePoint at, Clock::time_point deadline) const;

    // Everything it printed, for failure messages.
    std::string transcript() const;

private:
    std::unique_ptr<Child> oracle_;
    Rect surface_;
};

} // namespace brimlow::e2e
