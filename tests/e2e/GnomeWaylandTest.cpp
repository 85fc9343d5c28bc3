// The real program as a client of a GNOME Wayland session (headless mutter): the idle time and
// the pointer from the compositor itself, never from X11, and the tray over StatusNotifierItem.
#include "WaylandTest.h"
#include "harness/PointerOracle.h"
#include "harness/Sandbox.h"
#include "harness/StatusNotifierWatcher.h"

#include <algorithm>

namespace brimlow::e2e {

std::string unreachableServerHost();
std::string transcript(const Child& program);

namespace {

constexpr double threshold = 15;
const SurfacePoint rest{640, 400};

class GnomeWayland : public WaylandTest {
protected:
    void SetUp() override {
        WaylandTest::SetUp();
        if (!IsSkipped() && !pointerOraclePath()) {
            GTEST_SKIP() << "built without libwayland-dev and wayland-protocols, so without the "
                            "pointer oracle";
        }
    }

    // The program's lines that start with `beginning`.
    static std::vector<std::string> linesStarting(const Child& program,
                                                  const std::string& beginning) {
        std::vector<std::string> found;
        for (const auto& line : program.lines()) {
            if (line.text.starts_with(beginning)) {
                found.push_back(line.text);
            }
        }
        return found;
    }

    // The user leaves the pointer at `rest` and the session alone from now on.
    Clock::time_point lastInputAt(const HeadlessMutter& mutter, const PointerOracle& oracle) {
        RemoteDesktopSession user(mutter);
        user.placePointerAt(rest.x, rest.y);
        EXPECT_TRUE(oracle.waitForPosition(rest, Clock::now() + 5s)) << oracle.transcript();
        return Clock::now();
    }

    // Where the pointer went after the first `seen` events. A new virtual pointer (a new
    // remote-desktop session) enters the surface at its first move rather than moving in it.
    static std::vector<PointerEvent> movesAfter(const PointerOracle& oracle, std::size_t seen) {
        auto events = oracle.events();
        events.erase(events.begin(), events.begin() + std::ptrdiff_t(seen));
        std::erase_if(events, [](auto& e) { return e.kind == PointerEvent::Kind::Leave; });
        return events;
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
    const auto lastInput = lastInputAt(mutter, oracle);
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
    EXPECT_EQ(linesStarting(*program, "Wayland session: "),
              std::vector<std::string>{"Wayland session: idle time from GNOME's idle monitor "
                                       "(org.gnome.Mutter.IdleMonitor); pointer moves through "
                                       "GNOME's remote desktop (org.gnome.Mutter.RemoteDesktop)"})
        << transcript(*program);

    const auto items = tray.items();
    ASSERT_EQ(items.size(), 1u) << "no tray item registered with the watcher";
    EXPECT_EQ(tray.toolTip(items.front()).value_or(StatusNotifierToolTip{}).title, "Brimlow");
}

} // namespace
} // namespace brimlow::e2e
