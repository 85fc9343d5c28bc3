// The real program as a client of a GNOME Wayland session (headless mutter): the idle time and
// the pointer from the compositor itself, never from X11, and the tray over StatusNotifierItem.
#include "AtSpi.h"
#include "WaylandTest.h"
#include "harness/PointerOracle.h"
#include "harness/Sandbox.h"
#include "harness/StatusNotifierWatcher.h"

#include <algorithm>
#include <cstdint>
#include <thread>

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

// The session bus as a sandbox (Flatpak's xdg-dbus-proxy) shows it to the program: the desktop
// portal, the idle monitor, the accessibility bus and its own name, and nothing of mutter's
// remote desktop, so the program has to ask through the portal.
class PortalOnlyBus {
public:
    explicit PortalOnlyBus(const HeadlessMutter& mutter) {
        socket_ = dir_.path() / "bus";
        SpawnOptions options;
        options.argv = {"xdg-dbus-proxy",
                        mutter.busAddress(),
                        socket_.string(),
                        "--filter",
                        "--talk=org.freedesktop.portal.Desktop",
                        "--talk=org.gnome.Mutter.IdleMonitor",
                        "--talk=org.a11y.Bus",
                        "--own=com.pellvane.Brimlow2"};
        proxy_ = std::make_unique<Child>(options);
        if (!pollUntil(Clock::now() + 5s, [&] { return std::filesystem::exists(socket_); })) {
            throw std::runtime_error("xdg-dbus-proxy did not open its socket");
        }
    }
    std::string address() const { return "unix:path=" + socket_.string(); }

private:
    TempDir dir_;
    std::filesystem::path socket_;
    std::unique_ptr<Child> proxy_;
};

class GnomePortal : public GnomeWayland {
protected:
    void SetUp() override {
        GnomeWayland::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!findProgram("xdg-dbus-proxy") ||
            !std::filesystem::exists("/usr/libexec/xdg-desktop-portal-gnome")) {
            GTEST_SKIP() << "xdg-dbus-proxy or xdg-desktop-portal-gnome is not installed; "
                            "scripts/test installs them";
        }
        sandbox = std::make_unique<Sandbox>("");
        sandbox->writePreferences({{"idleseconds", "15"}});
        mutter = std::make_unique<HeadlessMutter>(*sandbox);
        mutter->shareEnvironmentWithTheBus();
        oracle = std::make_unique<PointerOracle>(mutter->clientEnvironment());
        user = std::make_unique<RemoteDesktopSession>(*mutter);
        // Away from the windows, which open in the middle; a keyboard appears with a first key.
        ASSERT_TRUE(placePointerSeenBy(*user, *oracle, corner, Clock::now() + 5s))
            << oracle->transcript();
        user->tapKey(keyShift);
        bus = std::make_unique<PortalOnlyBus>(*mutter);
        Environment env = mutter->clientEnvironment();
        env.set("DBUS_SESSION_BUS_ADDRESS", bus->address());
        env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
        program = startProgram(env);
    }
    void TearDown() override {
        program.reset();
        bus.reset();
        user.reset();
        oracle.reset();
        mutter.reset();
        sandbox.reset();
        GnomeWayland::TearDown();
    }

    // Presses the warning button, then the request alert's button, as a screen reader does; the
    // portal's dialog comes up next and takes the keyboard.
    void askThroughTheWarning() {
        auto alert = pressTheWarning(sandbox->busAddress(), *program);
        ASSERT_TRUE(alert);
        const auto names = accessibleNames(*alert);
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
            return name.find("remote desktop dialog") != std::string::npos;
        })) << describe(published);
        ASSERT_TRUE(pressButton(sandbox->busAddress(), program->pid(), *alert, "OK"));
        // GNOME 48's portal dialog has been seen to take more than 2 s to come up; keys typed
        // before it is there go to the program's window.
        std::this_thread::sleep_for(5s);
    }

    // Returns when the last keys went in: the user's last input.
    Clock::time_point type(const std::vector<std::vector<std::uint32_t>>& answer) {
        Clock::time_point typed;
        for (const auto& keys : answer) {
            user->tapKeys(keys);
            typed = Clock::now();
            std::this_thread::sleep_for(300ms);
        }
        return typed;
    }

    static constexpr std::uint32_t keyShift = 0xffe1;
    const SurfacePoint corner{40, 40};
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<HeadlessMutter> mutter;
    std::unique_ptr<PointerOracle> oracle;
    std::unique_ptr<RemoteDesktopSession> user;
    std::unique_ptr<PortalOnlyBus> bus;
    std::unique_ptr<Child> program;
};

// Without mutter's remote desktop in sight, the warning explains, the portal's dialog asks, and
// the user's yes hides the warning and lets the next idle spell be nudged.
TEST_F(GnomePortal, AllowedInThePortalsDialogTheNudgingStarts) {
    ASSERT_TRUE(pollUntil(Clock::now() + 5s,
                          [&] { return !linesStarting(*program, "Wayland session: ").empty(); }));
    EXPECT_NE(linesStarting(*program, "Wayland session: ").front().find("remote desktop portal"),
              std::string::npos)
        << transcript(*program);
    askThroughTheWarning();
    // To the switch "Allow remote interaction", on, then Share.
    const auto lastInput = type({{0xff09}, {0x20}, {0xffe9, 0x73}});
    EXPECT_TRUE(pollUntil(Clock::now() + 5s,
                          [&] { return !warningShown(sandbox->busAddress(), *program); }))
        << "the warning stayed after the user allowed it" << transcript(*program);

    const std::size_t seen = oracle->events().size();
    ASSERT_TRUE(
        pollUntil(Clock::now() + 25s, [&] { return movesAfter(*oracle, seen).size() >= 2; }))
        << oracle->transcript() << transcript(*program);
    const auto moves = movesAfter(*oracle, seen);
    EXPECT_EQ(moves[0].at, (SurfacePoint{corner.x - 2, corner.y + 2}));
    EXPECT_EQ(moves[1].at, corner);
    EXPECT_GE(secondsBetween(lastInput, moves[0].arrived), threshold);
}

TEST_F(GnomePortal, RefusedInThePortalsDialogTheWarningStays) {
    askThroughTheWarning();
    type({{0xff1b}});
    EXPECT_TRUE(pollUntil(Clock::now() + 5s, [&] {
        return !linesStarting(*program, "The remote desktop portal gave no pointer").empty();
    })) << transcript(*program);
    EXPECT_TRUE(warningShown(sandbox->busAddress(), *program));
    EXPECT_TRUE(program->running());
}

} // namespace
} // namespace brimlow::e2e
