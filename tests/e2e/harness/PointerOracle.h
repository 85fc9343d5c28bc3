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

// The compositor's own word on the user: idle after a second without input, or active again.
struct IdleReport {
    bool idle = false;
    Clock::time_point arrived;
};

// One line of the oracle's output as a report; nothing for any other line.
std::optional<IdleReport> parseIdleLine(const OutputLine& line);

// The programs as this build made them.
std::filesystem::path pointerOraclePath();
std::filesystem::path pointerPlacerPath();

// What every client of a Wayland session sees of the pointer: the positions at which it enters
// and crosses a fullscreen surface of the test's own (the oracle, a program of its own started
// as a Child). Wayland tells no client where the pointer is otherwise, so this stands in for
// XQueryPointer. A headless compositor has no pointer until some virtual device makes one
// (a remote-desktop session, a virtual pointer, fake input); the first event then comes with
// the first move. Where the compositor sends idle notifications (KWin, sway; mutter has none)
// it reports those too.
class PointerOracle {
public:
    // Followed, the oracle also watches the keyboard focus, as a launcher does that starts
    // programs, and is given an activation token for its first focus.
    enum class Focus { ignored, followed };

    // Starts the oracle with `env` (HeadlessCompositor::clientEnvironment()) and returns once
    // its surface is on screen, fullscreen; throws if it is not within 10 s.
    explicit PointerOracle(const Environment& env, Focus focus = Focus::ignored);

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
    // Every idle report so far, in order; the first is "idle" a second after the start.
    std::vector<IdleReport> idleReports() const;
    // With the focus followed: waits until the surface has the keyboard focus (or, for false,
    // has lost it) as of its latest report; true if so by `deadline`.
    bool waitForFocus(bool focused, Clock::time_point deadline) const;
    // The activation token the compositor gave for the first focus, once it has.
    std::optional<std::string> waitForActivationToken(Clock::time_point deadline) const;

    // Everything it printed, for failure messages.
    std::string transcript() const;

private:
    std::unique_ptr<Child> oracle_;
    Rect surface_;
};

// The user's hand on the mouse of a sway or KWin session (brimlow_pointer_placer): a virtual
// pointer device of its own (wlroots' virtual pointer, KWin's fake input, which KWin grants only
// to an installed program: see HeadlessKWin) that the user moves once and keeps hold of until
// the object goes. The device's move counts as the user's input: it resets the compositor's
// idle time.
class PointerPlacer {
public:
    // Puts the pointer at `at` on the compositor that `env` names and returns once it has
    // handled the move; throws with what the placer said if it cannot.
    PointerPlacer(const Environment& env, SurfacePoint at);

private:
    std::unique_ptr<Child> placer_;
};

} // namespace brimlow::e2e
