// The real program as a client of KDE Plasma's, wlroots' and Hyprland's Wayland sessions (KWin,
// sway, labwc, wayfire, Hyprland): the idle time from the compositor's idle notifications, the
// pointer through its own virtual input, and the tray over StatusNotifierItem.
#include "AtSpi.h"
#include "WaylandTest.h"
#include "harness/StatusNotifierWatcher.h"

#include <algorithm>
#include <thread>

namespace brimlow::e2e {
namespace {

constexpr double threshold = 15;
// Away from the program's windows, which open in the middle over the oracle's surface (on KWin;
// sway keeps them behind a fullscreen one) and would take the pointer from it.
const SurfacePoint rest{40, 40};

template <typename Session> class WaylandSession : public CompositorTest<Session> {
protected:
    // The user's session with the program running in it: the tray, the oracle on screen, and,
    // once the program has looked at the idle time for the first time, the user's last input at
    // `rest` with a mouse that stays plugged in. The idle spell begins while the program runs,
    // however long its start takes (seconds in a virtual machine without a CPU of its own). KWin
    // lets the program move the pointer only if `installed`.
    void start(bool installed) {
        sandbox = std::make_unique<Sandbox>("");
        sandbox->writePreferences({{"idleseconds", "15"}});
        std::vector<std::filesystem::path> fakeInputClients{pointerPlacerPath()};
        if (installed) {
            fakeInputClients.push_back(programPath());
        }
        compositor = Session::start(*sandbox, fakeInputClients);
        tray = std::make_unique<StatusNotifierWatcher>(sandbox->busAddress());
        oracle = std::make_unique<PointerOracle>(compositor->clientEnvironment());
        Environment env = compositor->clientEnvironment();
        env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
        // As for a screen reader's user, so that the test reads its windows.
        env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        program = startProgram(env);
        ASSERT_TRUE(waitForIdleLines(*program, 1, Clock::now() + 30s)) << transcript(*program);
        const std::size_t before = oracle->events().size();
        user = std::make_unique<PointerPlacer>(compositor->clientEnvironment(), rest);
        ASSERT_TRUE(oracle->waitForPosition(rest, Clock::now() + 5s)) << oracle->transcript();
        const auto events = oracle->events();
        seen = events.size();
        // When the oracle heard of it, as it hears of the nudge.
        lastInput = std::find_if(events.begin() + std::ptrdiff_t(before), events.end(),
                                 [](const PointerEvent& event) { return event.at == rest; })
                        ->arrived;
    }
    void TearDown() override {
        program.reset();
        user.reset();
        oracle.reset();
        tray.reset();
        compositor.reset();
        sandbox.reset();
        CompositorTest<Session>::TearDown();
    }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<HeadlessCompositor> compositor;
    std::unique_ptr<StatusNotifierWatcher> tray;
    std::unique_ptr<PointerOracle> oracle;
    std::unique_ptr<PointerPlacer> user;
    Clock::time_point lastInput;
    // The oracle's events up to the user's last input.
    std::size_t seen = 0;
    std::unique_ptr<Child> program;
};

TYPED_TEST_SUITE(WaylandSession, KWinAndWlroots);

TYPED_TEST(WaylandSession, NudgesThroughTheCompositorExactlyAndCountsAsTheUsersInput) {
    ASSERT_NO_FATAL_FAILURE(this->start(true));
    const auto& pointer = *this->oracle;
    const auto& brimlow = *this->program;

    ASSERT_TRUE(pollUntil(Clock::now() + 25s,
                          [&] { return this->movesAfter(pointer, this->seen).size() >= 2; }))
        << pointer.transcript() << transcript(brimlow);
    const auto moves = this->movesAfter(pointer, this->seen);
    EXPECT_EQ(moves[0].at, (SurfacePoint{rest.x - 2, rest.y + 2}));
    EXPECT_EQ(moves[1].at, rest);
    const double after = secondsBetween(this->lastInput, moves[0].arrived);
    EXPECT_GE(after, threshold) << "nudged before the threshold";
    EXPECT_LE(after, threshold + 4) << "nudged late";
    EXPECT_NEAR(secondsBetween(moves[0].arrived, moves[1].arrived), 1.0, 0.3);

    // The oracle's idle spell began a second after the user's input; the first end of one
    // since is the compositor's word that the nudge was input.
    const auto reports = pointer.idleReports();
    const auto resumed = std::find_if(reports.begin(), reports.end(), [&](const IdleReport& r) {
        return !r.idle && r.arrived > this->lastInput + 500ms;
    });
    ASSERT_NE(resumed, reports.end()) << pointer.transcript();
    EXPECT_NEAR(secondsBetween(moves[0].arrived, resumed->arrived), 0, 0.5)
        << "the compositor did not count the nudge as input:" << pointer.transcript();

    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        return this->sandbox->readPreferences()["movedcount"] == "1";
    })) << "the count did not go up";
    const auto session = this->linesStarting(brimlow, "Wayland session: ");
    ASSERT_EQ(session.size(), 1u) << transcript(brimlow);
    EXPECT_TRUE(std::ranges::any_of(TypeParam::idleProtocols, [&](std::string_view protocol) {
        return session.front().find(protocol) != std::string::npos;
    })) << session.front();
    EXPECT_NE(session.front().find(TypeParam::pointerProtocol), std::string::npos)
        << session.front();
    EXPECT_EQ(toolkitWarnings(brimlow), std::vector<std::string>{}) << transcript(brimlow);

    const auto items = this->tray->items();
    ASSERT_EQ(items.size(), 1u) << "no tray item registered with the watcher";
    EXPECT_EQ(this->tray->toolTip(items.front()).value_or(StatusNotifierToolTip{}).title,
              "Brimlow");
}

class KWinWithoutTheProgramsEntry : public WaylandSession<KWinSession> {};

// As when the program runs from a build tree or an unpacked archive, with no remote desktop
// portal on the bus either: nothing may move the pointer, and the warning says how to fix that.
TEST_F(KWinWithoutTheProgramsEntry, WarnsAndExplainsAndNeverMovesThePointer) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    // What the program finds missing is KWin's permission. A remote desktop portal would take its
    // place, but the one the bus can start finds no backend: the bus's activation environment
    // names no desktop and no Wayland display, which a login would give it.
    EXPECT_NE(
        linesStarting(*program, "Wayland session: ").front().find(KWinSession::pointerProtocol),
        std::string::npos)
        << transcript(*program);
    if (const auto alert = pressTheWarning(sandbox->busAddress(), *program)) {
        const auto names = accessibleNames(*alert);
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
            return name.find("package") != std::string::npos;
        })) << describe(published);
    }

    std::this_thread::sleep_until(lastInput + 20s);
    // Windows coming and going over the oracle take the pointer away and give it back, where it
    // is: at rest.
    for (const auto& event : movesAfter(*oracle, seen)) {
        EXPECT_EQ(event.at, rest) << oracle->transcript();
    }
    const auto preferences = sandbox->readPreferences();
    EXPECT_EQ(preferences.contains("movedcount") ? preferences.at("movedcount") : "0", "0")
        << "counted a nudge it never made";
    EXPECT_TRUE(program->running()) << transcript(*program);
}

} // namespace
} // namespace brimlow::e2e
