#pragma once

#include "platform/IdleClock.h"
#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"

#include <string>

namespace brimlow::platform::linuxdesktop {

// A session that offers no way to read the idle time: it always reads 0, so nothing is nudged.
class NoIdleClock final : public IdleClock {
public:
    double secondsSinceLastInput() override { return 0; }
};

// A session that offers this program no way to move the pointer: nothing is posted, and the
// permission is denied, with `whatWouldGrantIt` as the place the alert names.
class NoPointerInput final : public PointerEvents, public PostEventAccess {
public:
    explicit NoPointerInput(std::string whatWouldGrantIt)
        : grantPlace_(std::move(whatWouldGrantIt)) {}

    void postMouseMovedBy(Offset, DeliveryReport report) override {
        report(Delivery::failed("This desktop offers Brimlow no way to move the pointer"));
    }
    Access check() override { return Access::denied; }
    void request() override {}
    bool isTrusted() override { return false; }
    std::string requestOutcome() override { return "Your desktop offers no way to ask."; }
    std::string grantPlace() override { return grantPlace_; }

private:
    std::string grantPlace_;
};

// A Wayland session, as its environment says: XDG_SESSION_TYPE=wayland or WAYLAND_DISPLAY set.
// (DISPLAY may be set there too, for Xwayland, whose input reaches only X clients.)
bool isWaylandSession();

} // namespace brimlow::platform::linuxdesktop
