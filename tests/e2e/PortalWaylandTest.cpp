// The real program moving the pointer through the RemoteDesktop portal, where the compositor lets
// it do nothing of its own accord: with GNOME's backend on headless mutter, and with KDE's on
// headless KWin that has no desktop entry of the program's. The user answers the portal's dialog
// as they would, and the nudge must reach the compositor exactly.
#include "AtSpi.h"
#include "WaylandTest.h"
#include "harness/PointerOracle.h"
#include "harness/QtBus.h"
#include "harness/Sandbox.h"

#include <algorithm>
#include <cstdint>
#include <thread>

namespace brimlow::e2e {
namespace {

constexpr double threshold = 15;
// Away from the windows, which open in the middle: the program's, its alert and the dialog.
const SurfacePoint corner{40, 40};

enum class Answer { allow, refuse };

// The session bus as a sandbox (Flatpak's xdg-dbus-proxy) shows it to the program: the desktop
// portal, the idle monitor, the accessibility bus and its own name, and nothing else (mutter's
// remote desktop, for one), so the program has to ask through the portal.
class PortalOnlyBus {
public:
    explicit PortalOnlyBus(const std::string& busAddress) {
        socket_ = dir_.path() / "bus";
        SpawnOptions options;
        options.argv = {"xdg-dbus-proxy",
                        busAddress,
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

// GNOME: mutter lets the programs of the session move the pointer through its own remote
// desktop, which the sandbox's bus hides; the user is a remote-desktop session of the test's,
// with a keyboard to answer the GNOME portal's dialog.
class GnomePortalDesktop {
public:
    static std::optional<std::string> missingPackage() {
        if (auto missing = missingMutterPackage()) {
            return missing;
        }
        if (!std::filesystem::exists("/usr/libexec/xdg-desktop-portal-gnome")) {
            return "xdg-desktop-portal-gnome";
        }
        return std::nullopt;
    }

    explicit GnomePortalDesktop(const Sandbox& sandbox) : mutter_(sandbox) {}
    HeadlessCompositor& compositor() { return mutter_; }
    // GNOME's backend asks every program.
    std::optional<std::string> whyNoDialog(const std::string&) const { return std::nullopt; }

    // Leaves the pointer at `at`, where `oracle` sees it, with a keyboard that the dialog finds;
    // false if the oracle never sees it there.
    bool placeUser(const PointerOracle& oracle, SurfacePoint at) {
        user_ = std::make_unique<RemoteDesktopSession>(mutter_);
        if (!placePointerSeenBy(*user_, oracle, at, Clock::now() + 5s)) {
            return false;
        }
        // A keyboard appears with a first key.
        user_->tapKey(keyShift);
        return true;
    }

    // Answers the dialog that has just been asked for; returns when the user's last input was.
    Clock::time_point answer(Answer answer, const std::string&) {
        // GNOME 48's portal dialog has been seen to take more than 2 s to come up; keys typed
        // before it is there go to the program's window.
        std::this_thread::sleep_for(5s);
        // Allowing: to the switch "Allow remote interaction", on, then Share.
        using Chords = std::vector<std::vector<std::uint32_t>>;
        const Chords keys =
            answer == Answer::allow ? Chords{{0xff09}, {0x20}, {0xffe9, 0x73}} : Chords{{0xff1b}};
        Clock::time_point typed;
        for (const auto& chord : keys) {
            user_->tapKeys(chord);
            typed = Clock::now();
            std::this_thread::sleep_for(300ms);
        }
        return typed;
    }

private:
    static constexpr std::uint32_t keyShift = 0xffe1;
    HeadlessMutter mutter_;
    std::unique_ptr<RemoteDesktopSession> user_;
};

// KDE Plasma: KWin offers its fake input to installed programs alone, and the program has no
// entry here, as when it runs from a build tree; KDE's portal has one, as its package installs
// it. The user's mouse is a fake input device of the test's own; the dialog is a Qt Quick window,
// answered as a screen reader's user presses its buttons.
class KdePortalDesktop {
public:
    static std::optional<std::string> missingPackage() {
        if (auto missing = missingKWinPackage()) {
            return missing;
        }
        if (!std::filesystem::exists(
                "/usr/share/dbus-1/services/org.freedesktop.impl.portal.desktop.kde.service")) {
            return "xdg-desktop-portal-kde";
        }
        // Older portals draw their dialogs with Plasma's system dialogs, which the portal's
        // package does not bring, newer ones with their own: Plasma's shell stands for Plasma.
        if (!findProgram("plasmashell")) {
            return "plasma-workspace";
        }
        return std::nullopt;
    }

    explicit KdePortalDesktop(const Sandbox& sandbox)
        : kwin_(sandbox, {pointerPlacerPath()}, Portals::inTheSession) {}
    HeadlessCompositor& compositor() { return kwin_; }

    // KDE's backend asks only programs whose application id the portal knows. A program of the
    // host's has one only where the portal offers to register it (xdg-desktop-portal 1.19.3 and
    // later, Debian 13's); before that KDE's lets such a program in at once, saying so in a
    // notification, as Debian 12's does.
    std::optional<std::string> whyNoDialog(const std::string& busAddress) const {
        const auto introspection = QtBusConnection(busAddress)
                                       .call(QStringLiteral("org.freedesktop.portal.Desktop"),
                                             QStringLiteral("/org/freedesktop/portal/desktop"),
                                             QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                             QStringLiteral("Introspect"));
        if (!introspection.isEmpty() && introspection.first().toString().contains(QStringLiteral(
                                            "org.freedesktop.host.portal.Registry"))) {
            return std::nullopt;
        }
        return "this xdg-desktop-portal cannot tell KDE's backend the application id of a host "
               "program, and KDE's backend asks no such program: it lets it in at once";
    }

    bool placeUser(const PointerOracle& oracle, SurfacePoint at) {
        user_ = std::make_unique<PointerPlacer>(kwin_.clientEnvironment(), at);
        placed_ = Clock::now();
        return oracle.waitForPosition(at, Clock::now() + 5s);
    }

    // Pressing a button is no input to the compositor: the user's last was the placing.
    Clock::time_point answer(Answer answer, const std::string& busAddress) {
        if (whyNoDialog(busAddress)) {
            return placed_;
        }
        // Plasma 6.3's dialog answers with Share or Cancel, Plasma 6.7's with Approve or Deny.
        const std::vector<std::string> labels = answer == Answer::allow
                                                    ? std::vector<std::string>{"Share", "Approve"}
                                                    : std::vector<std::string>{"Cancel", "Deny"};
        std::vector<AccessibleNode> published;
        std::optional<pid_t> portal;
        const bool pressed = pollUntil(
            Clock::now() + 15s,
            [&] {
                portal = QtBusConnection(busAddress)
                             .ownerPid(QStringLiteral("org.freedesktop.impl.portal.desktop.kde"));
                if (!portal) {
                    return false;
                }
                published = accessibleTrees(busAddress, *portal);
                for (const auto& tree : published) {
                    for (const auto& label : labels) {
                        if (pressButton(busAddress, *portal, tree, label)) {
                            return true;
                        }
                    }
                }
                return false;
            },
            300ms);
        EXPECT_TRUE(pressed) << "no " << labels[0] << " or " << labels[1]
                             << " button in the portal's dialog"
                             << (portal ? "" : " (no portal on the bus)") << ":\n"
                             << describe(published) << kwin_.log();
        return placed_;
    }

private:
    HeadlessKWin kwin_;
    std::unique_ptr<PointerPlacer> user_;
    Clock::time_point placed_;
};

template <typename Desktop> class RemoteDesktopPortal : public WaylandTest {
protected:
    std::optional<std::string> missingPackage() const override {
        if (auto missing = Desktop::missingPackage()) {
            return missing;
        }
        if (!findProgram("xdg-dbus-proxy")) {
            return "xdg-dbus-proxy";
        }
        return std::nullopt;
    }

    void SetUp() override {
        WaylandTest::SetUp();
        if (this->IsSkipped()) {
            return;
        }
        sandbox = std::make_unique<Sandbox>("");
        sandbox->writePreferences({{"idleseconds", "15"}});
        desktop = std::make_unique<Desktop>(*sandbox);
        // Before the program first calls the portal, which starts it (KWin 6 starts it itself, so
        // KDE's desktop has shared it before KWin started).
        desktop->compositor().shareEnvironmentWithTheBus();
        oracle = std::make_unique<PointerOracle>(desktop->compositor().clientEnvironment());
        ASSERT_TRUE(desktop->placeUser(*oracle, corner)) << oracle->transcript();
        bus = std::make_unique<PortalOnlyBus>(sandbox->busAddress());
        Environment env = desktop->compositor().clientEnvironment();
        env.set("DBUS_SESSION_BUS_ADDRESS", bus->address());
        env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
        program = startProgram(env);
    }
    void TearDown() override {
        program.reset();
        bus.reset();
        oracle.reset();
        desktop.reset();
        sandbox.reset();
        WaylandTest::TearDown();
    }

    // Presses the warning button, then the request alert's button, as a screen reader does, and
    // answers the portal's dialog that comes up next; returns when the user's last input was.
    Clock::time_point askThroughTheWarning(Answer answer) {
        auto alert = this->pressTheWarning(sandbox->busAddress(), *program);
        if (!alert) {
            return Clock::now();
        }
        const auto names = accessibleNames(*alert);
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
            return name.find("remote desktop dialog") != std::string::npos;
        })) << describe(this->published);
        EXPECT_TRUE(pressButton(sandbox->busAddress(), program->pid(), *alert, "OK"));
        return desktop->answer(answer, sandbox->busAddress());
    }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<PointerOracle> oracle;
    std::unique_ptr<PortalOnlyBus> bus;
    std::unique_ptr<Child> program;
};

using PortalDesktops = ::testing::Types<GnomePortalDesktop, KdePortalDesktop>;

TYPED_TEST_SUITE(RemoteDesktopPortal, PortalDesktops);

// Without a way of the compositor's own in sight, the warning explains, the portal's dialog
// asks, and the user's yes hides the warning and lets the next idle spell be nudged, and counted.
TYPED_TEST(RemoteDesktopPortal, AllowedInThePortalsDialogTheNudgingStarts) {
    const auto& brimlow = *this->program;
    ASSERT_TRUE(pollUntil(Clock::now() + 5s, [&] {
        return !this->linesStarting(brimlow, "Wayland session: ").empty();
    }));
    EXPECT_NE(
        this->linesStarting(brimlow, "Wayland session: ").front().find("remote desktop portal"),
        std::string::npos)
        << transcript(brimlow);
    const auto lastInput = this->askThroughTheWarning(Answer::allow);
    ASSERT_FALSE(this->HasFatalFailure());
    EXPECT_TRUE(
        pollUntil(Clock::now() + 5s,
                  [&] { return !this->warningShown(this->sandbox->busAddress(), brimlow); }))
        << "the warning stayed after the user allowed it" << transcript(brimlow);

    // The windows going (the alert, the dialog) give the pointer back to the oracle where it is,
    // at the corner: the nudge is the first move away from there, and the one after it.
    const std::size_t seen = this->oracle->events().size();
    std::vector<PointerEvent> moves;
    ASSERT_TRUE(pollUntil(Clock::now() + 25s,
                          [&] {
                              moves = this->movesAfter(*this->oracle, seen);
                              moves.erase(moves.begin(),
                                          std::find_if(moves.begin(), moves.end(),
                                                       [](auto& e) { return e.at != corner; }));
                              return moves.size() >= 2;
                          }))
        << this->oracle->transcript() << transcript(brimlow);
    EXPECT_EQ(moves[0].at, (SurfacePoint{corner.x - 2, corner.y + 2}));
    EXPECT_EQ(moves[1].at, corner);
    EXPECT_GE(secondsBetween(lastInput, moves[0].arrived), threshold);
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        return this->sandbox->readPreferences()["movedcount"] == "1";
    })) << "the count did not go up";
}

TYPED_TEST(RemoteDesktopPortal, RefusedInThePortalsDialogTheWarningStays) {
    if (const auto why = this->desktop->whyNoDialog(this->sandbox->busAddress())) {
        GTEST_SKIP() << "no dialog to refuse: " << *why;
    }
    this->askThroughTheWarning(Answer::refuse);
    EXPECT_TRUE(pollUntil(Clock::now() + 5s, [&] {
        return !this->linesStarting(*this->program, "The remote desktop portal gave no pointer")
                    .empty();
    })) << transcript(*this->program);
    EXPECT_TRUE(this->warningShown(this->sandbox->busAddress(), *this->program));
    EXPECT_TRUE(this->program->running());
}

} // namespace
} // namespace brimlow::e2e
