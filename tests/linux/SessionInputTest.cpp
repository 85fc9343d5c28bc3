#include "platform/linux/SessionInput.h"

#include "TestSupport.h"
#include "platform/sim/SimDesktop.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::Access;
using platform::linuxdesktop::SessionInput;

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    return all;
}

// A Wayland session whose compositor is gone, or offers nothing of ours: X11 is never the
// fallback, though DISPLAY names a working server (Xwayland's input would reach no Wayland
// client); the idle time reads 0, nothing is posted, the permission is denied, and lines say why.
TEST(WaylandSessionInput, WithoutACompositorNothingFallsBackToX11AndTheLinesSayWhy) {
    usePrivateSessionBus();
    ensureQtApplication();
    PrivateXServer xwayland;
    setenv("DISPLAY", xwayland.name().c_str(), 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("WAYLAND_DISPLAY", "brimlow-no-compositor", 1);
    RecordingConsole console;
    platform::sim::SimNotifications notifications;
    platform::sim::SimSessionLock lock;

    SessionInput input(console, notifications, "com.pellvane.Brimlow2", lock);

    EXPECT_EQ(input.x11(), nullptr);
    EXPECT_EQ(input.idleClock().secondsSinceLastInput(), 0);
    EXPECT_EQ(platform::sim::deliveredAtOnce(input.pointer(), {-2, 2}), false);
    EXPECT_EQ(input.access().check(), Access::denied);
    EXPECT_NE(input.description().find("no idle time"), std::string::npos) << input.description();
    EXPECT_NE(input.description().find("no pointer moves"), std::string::npos)
        << input.description();
    EXPECT_NE(joined(console.lines()).find("No Wayland compositor answers"), std::string::npos)
        << joined(console.lines());
}

} // namespace
} // namespace brimlow::testing
