// The real program beside real lock screens on X11, locked and unlocked with their own commands
// as the desktop's menu and idle timeout do: MATE's screen saver and GNOME's (the one GNOME
// Flashback sessions run), each on an X server of the test's own that can fade the screen as
// they do.
#include "DesktopTest.h"

#include <algorithm>

namespace brimlow::e2e {
namespace {

struct MateScreenSaver {
    static constexpr const char* daemon = "mate-screensaver";
    static constexpr const char* command = "mate-screensaver-command";
    static constexpr const char* service = "org.mate.ScreenSaver";
};

struct GnomeScreenSaver {
    static constexpr const char* daemon = "gnome-screensaver";
    static constexpr const char* command = "gnome-screensaver-command";
    static constexpr const char* service = "org.gnome.ScreenSaver";
};

// Three idle thresholds of 15 s, and two ticks more.
constexpr auto lockedFor = 3 * 15s + 4s;
const PointerPosition restingAt{100, 100};

template <typename Saver> class LockedScreen : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (!findProgram(Saver::daemon) || !findProgram("Xorg")) {
            GTEST_SKIP() << Saver::daemon
                         << " or Xorg is not installed; scripts/test installs them where the "
                            "release has them";
        }
        server = std::make_unique<DummyDriverServer>();
        x = std::make_unique<XConnection>(server->displayName());
        sandbox = std::make_unique<Sandbox>(server->displayName());
        // A nudge counted before and the permission there: no window comes up over the lock.
        sandbox->writePreferences({{"idleseconds", "15"}, {"movedcount", "1"}});
        SpawnOptions options;
        options.argv = {Saver::daemon, "--no-daemon"};
        options.env = sandbox->environment();
        options.captureStdout = true;
        options.stderrToStdout = true;
        saver = std::make_unique<Child>(options);
        ASSERT_TRUE(pollUntil(
            Clock::now() + 10s, [&] { return saverSays("is inactive"); }, 200ms))
            << Saver::daemon << " never answered on the session bus";
    }
    void TearDown() override {
        saver.reset();
        sandbox.reset();
        x.reset();
        server.reset();
        DesktopTest::TearDown();
    }

    // What the screen saver's own command printed, if it ran and succeeded.
    std::optional<std::vector<OutputLine>> saverCommand(const std::string& option) const {
        SpawnOptions options;
        options.argv = {Saver::command, option};
        options.env = sandbox->environment();
        options.captureStdout = true;
        Child command(options);
        if (command.waitForExit(10s) != 0 || !command.waitForOutputEnd(5s)) {
            return std::nullopt;
        }
        return command.lines();
    }
    // Its command says "The screensaver is active" or "... inactive" once it runs.
    bool saverSays(const std::string& state) const {
        const auto lines = saverCommand("--query").value_or(std::vector<OutputLine>{});
        return std::any_of(lines.begin(), lines.end(), [&](const OutputLine& line) {
            return line.text == "The screensaver " + state;
        });
    }
    std::string storedCount() const { return sandbox->readPreferences()["movedcount"]; }

    std::unique_ptr<DummyDriverServer> server;
    std::unique_ptr<XConnection> x;
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<Child> saver;
};

using ScreenSavers = ::testing::Types<MateScreenSaver, GnomeScreenSaver>;
TYPED_TEST_SUITE(LockedScreen, ScreenSavers);

// Over a locked lunch break the pointer stays put and the count with it; once the user unlocks,
// the next idle spell is nudged and counted, with nothing else to do.
TYPED_TEST(LockedScreen, NoNudgeWhileLockedAndTheNextIdleSpellIsNudgedOnceUnlocked) {
    Environment env = this->sandbox->environment();
    env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
    auto program = startProgram(env);
    ASSERT_TRUE(waitForIdleLines(*program, 1, Clock::now() + 5s)) << transcript(*program);
    const auto lines = program->lines();
    const auto session = std::find_if(lines.begin(), lines.end(), [](const OutputLine& line) {
        return line.text.starts_with("X11 session: ");
    });
    ASSERT_NE(session, lines.end()) << transcript(*program);
    EXPECT_NE(session->text.find(std::string("screen lock state from ") + TypeParam::service),
              std::string::npos)
        << session->text;

    ASSERT_TRUE(this->saverCommand("--lock"));
    ASSERT_TRUE(pollUntil(
        Clock::now() + 5s, [&] { return this->saverSays("is active"); }, 200ms));
    this->x->fakeMotion(restingAt.x, restingAt.y);
    bool moved = false;
    pollUntil(
        Clock::now() + lockedFor,
        [&] {
            moved = this->x->pointer() != restingAt;
            return moved;
        },
        50ms);
    EXPECT_FALSE(moved) << "the pointer moved to " << describe(this->x->pointer())
                        << " while the screen was locked" << transcript(*program);
    EXPECT_EQ(this->storedCount(), "1");
    ASSERT_TRUE(this->saverSays("is active")) << "the lock ended by itself";

    ASSERT_TRUE(this->saverCommand("--deactivate"));
    ASSERT_TRUE(pollUntil(
        Clock::now() + 5s, [&] { return this->saverSays("is inactive"); }, 200ms));
    ASSERT_TRUE(pollUntil(
        Clock::now() + 5s, [&] { return this->x->pointer() != restingAt; }, 20ms))
        << "no nudge after the unlock" << transcript(*program);
    EXPECT_EQ(this->x->pointer(), (PointerPosition{98, 102}));
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] { return this->storedCount() == "2"; }))
        << transcript(*program);
    EXPECT_EQ(this->x->pointer(), restingAt);
}

} // namespace
} // namespace brimlow::e2e
