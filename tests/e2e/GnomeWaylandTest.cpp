// The real program as a client of a GNOME Wayland session (headless mutter): the idle time and
// the pointer from the compositor itself, never from X11, and the tray over StatusNotifierItem.
#include "WaylandTest.h"
#include "harness/PointerOracle.h"
#include "harness/Sandbox.h"
#include "harness/StatusNotifierWatcher.h"

namespace brimlow::e2e {

namespace {

constexpr double threshold = 15;
// Away from the program's window, which opens in the middle: mutter 48 puts it over the oracle's
// fullscreen surface, and a nudge under it would reach the window rather than the oracle.
const SurfacePoint rest{40, 40};

class GnomeWayland : public WaylandTest {
protected:
    // The user leaves the pointer at `rest` and the session alone from now on. The user's
    // device stays, as a mouse stays plugged in: were it the only one to go, the seat would lose
    // its pointer, and mutter 48 gives the pointer a client makes when the program's device
    // brings it back no enter, so the program's moves would reach no client.
    Clock::time_point lastInputAt(RemoteDesktopSession& user, const PointerOracle& oracle) {
        EXPECT_TRUE(placePointerSeenBy(user, oracle, rest, Clock::now() + 5s))
            << oracle.transcript();
        return Clock::now();
    }
};

// GNOME sets DISPLAY for Xwayland; Qt's windows even go through it here (xcb). The input must
// still come from the compositor: an XTEST move would reach no Wayland client, and the oracle
// is one.
TEST_F(GnomeWayland, NudgesThroughTheCompositorExactlyThoughDisplayIsSet) {
    Sandbox sandbox("");
    sandbox.writePreferences({{"idleseconds", "15"}});
    HeadlessMutter mutter(sandbox, Xwayland::On);
    StatusNotifierWatcher tray(mutter.busAddress());
    PointerOracle oracle(mutter.clientEnvironment());
    RemoteDesktopSession user(mutter);
    const auto lastInput = lastInputAt(user, oracle);
    const std::size_t seen = oracle.events().size();

    Environment env = mutter.clientEnvironment();
    ASSERT_TRUE(variableIn(env, "DISPLAY"));
    env.set("QT_QPA_PLATFORM", "xcb");
    env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
    auto program = startProgram(env);

    ASSERT_TRUE(pollUntil(Clock::now() + 25s, [&] { return movesAfter(oracle, seen).size() >= 2; }))
        << oracle.transcript() << transcript(*program);
    const auto moves = movesAfter(oracle, seen);
    EXPECT_EQ(moves[0].at, (SurfacePoint{rest.x - 2, rest.y + 2}));
    EXPECT_EQ(moves[1].at, rest);
    const double after = secondsBetween(lastInput, moves[0].arrived);
    EXPECT_GE(after, threshold) << "nudged before the threshold";
    EXPECT_LE(after, threshold + 4) << "nudged late";
    EXPECT_NEAR(secondsBetween(moves[0].arrived, moves[1].arrived), 1.0, 0.3);
    EXPECT_LT(mutter.idleTimeMs(), 1500u) << "the compositor did not count the nudge as input";

    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        return sandbox.readPreferences()["movedcount"] == "1";
    })) << "the count did not go up";
    const auto session = linesStarting(*program, "Wayland session: ");
    ASSERT_EQ(session.size(), 1u) << transcript(*program);
    EXPECT_EQ(session.front().rfind("Wayland session: idle time from GNOME's idle monitor "
                                    "(org.gnome.Mutter.IdleMonitor); pointer moves through "
                                    "GNOME's remote desktop (org.gnome.Mutter.RemoteDesktop); ",
                                    0),
              0u)
        << session.front();

    const auto items = tray.items();
    ASSERT_EQ(items.size(), 1u) << "no tray item registered with the watcher";
    EXPECT_EQ(tray.toolTip(items.front()).value_or(StatusNotifierToolTip{}).title, "Brimlow");
}

// Stock GNOME Shell has no StatusNotifierItem host: the program names the extension that makes
// one, and Qt must not fall back to an X11 tray the Wayland platform does not have. With a host
// there is neither the line nor a warning.
TEST_F(GnomeWayland, WithoutATrayNamesTheExtensionAndQtStaysQuiet) {
    Sandbox sandbox("");
    sandbox.writePreferences({{"idleseconds", "3600"}});
    HeadlessMutter mutter(sandbox);
    Environment env = mutter.clientEnvironment();
    env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
    const std::string noTray = "No tray on this desktop";
    {
        auto program = startProgram(env);
        // The first tick comes once start-up is over.
        ASSERT_TRUE(waitForIdleLines(*program, 1, Clock::now() + 8s)) << transcript(*program);
        const auto lines = linesStarting(*program, noTray);
        ASSERT_EQ(lines.size(), 1u) << transcript(*program);
        EXPECT_NE(lines.front().find("install gnome-shell-extension-appindicator"),
                  std::string::npos)
            << lines.front();
        EXPECT_NE(lines.front().find("gnome-extensions enable ubuntu-appindicators@ubuntu.com"),
                  std::string::npos)
            << lines.front();
        EXPECT_EQ(toolkitWarnings(*program), std::vector<std::string>{}) << transcript(*program);
    }
    StatusNotifierWatcher tray(mutter.busAddress());
    auto program = startProgram(env);
    ASSERT_TRUE(pollUntil(Clock::now() + 8s, [&] { return !tray.items().empty(); }))
        << "no tray item registered with the watcher" << transcript(*program);
    ASSERT_TRUE(waitForIdleLines(*program, 1, Clock::now() + 8s)) << transcript(*program);
    EXPECT_EQ(linesStarting(*program, noTray), std::vector<std::string>{}) << transcript(*program);
    EXPECT_EQ(toolkitWarnings(*program), std::vector<std::string>{}) << transcript(*program);
}

} // namespace
} // namespace brimlow::e2e
