// A second start on Wayland, as a launcher makes it: with the activation token the compositor
// gave the launcher (XDG_ACTIVATION_TOKEN). Only with it may the first program's window take
// the keyboard focus from the launcher.
#include "WaylandTest.h"
#include "harness/StatusNotifierWatcher.h"

#include <memory>
#include <thread>

namespace brimlow::e2e {
namespace {

constexpr std::uint32_t keyShift = 0xffe1;

// KWin lets an installed program move the pointer, so it starts with nothing to ask. Its seat
// has a keyboard from the start.
struct KWinAndItsKeyboard {
    static std::optional<std::string> missingPackage() { return missingKWinPackage(); }
    static std::unique_ptr<HeadlessCompositor> start(const Sandbox& sandbox) {
        return std::make_unique<HeadlessKWin>(sandbox,
                                              std::vector<std::filesystem::path>{programPath()});
    }
    static std::shared_ptr<void> plugInKeyboard(HeadlessCompositor&) { return nullptr; }
};

// A headless mutter's seat has a keyboard once a remote-desktop session has typed, for as long
// as the session lasts.
struct MutterAndAKeyboard {
    static std::optional<std::string> missingPackage() { return missingMutterPackage(); }
    static std::unique_ptr<HeadlessCompositor> start(const Sandbox& sandbox) {
        return std::make_unique<HeadlessMutter>(sandbox);
    }
    static std::shared_ptr<void> plugInKeyboard(HeadlessCompositor& compositor) {
        auto keyboard =
            std::make_shared<RemoteDesktopSession>(static_cast<HeadlessMutter&>(compositor));
        keyboard->tapKey(keyShift);
        return keyboard;
    }
};

template <typename Session> class SecondStartWayland : public CompositorTest<Session> {
protected:
    void TearDown() override {
        first.reset();
        launcher.reset();
        keyboard.reset();
        tray.reset();
        compositor.reset();
        sandbox.reset();
        CompositorTest<Session>::TearDown();
    }

    // The first program's window is open, and the launcher came up over it and has the focus.
    void start() {
        sandbox = std::make_unique<Sandbox>("");
        sandbox->writePreferences({{"idleseconds", "3600"}});
        compositor = Session::start(*sandbox);
        tray = std::make_unique<StatusNotifierWatcher>(sandbox->busAddress());
        first = startProgram(programEnvironment());
        ASSERT_TRUE(windowShown()) << describe(this->published) << transcript(*first);
        launcher = std::make_unique<PointerOracle>(compositor->clientEnvironment(),
                                                   PointerOracle::Focus::followed);
        keyboard = Session::plugInKeyboard(*compositor);
        ASSERT_TRUE(launcher->waitForFocus(true, Clock::now() + 5s)) << launcher->transcript();
    }

    Environment programEnvironment() const {
        Environment env = compositor->clientEnvironment();
        env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
        // As for a screen reader's user, so that the test sees the window.
        env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        return env;
    }

    // Starts the program again, as the launcher does with `token`, and waits for it to hand
    // over and leave.
    void startAgain(const std::optional<std::string>& token) {
        Environment env = programEnvironment();
        if (token) {
            env.set("XDG_ACTIVATION_TOKEN", *token);
        }
        auto again = startProgram(env);
        auto status = again->waitForExit(5s);
        ASSERT_TRUE(status) << "the second start still runs after 5 s" << transcript(*again);
        EXPECT_EQ(*status, 0) << transcript(*again);
    }

    static bool isShowing(const AccessibleNode& node) { return node.showing; }
    bool windowShown() {
        return this->waitForAccessible(sandbox->busAddress(), *first, isShowing).has_value();
    }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<HeadlessCompositor> compositor;
    std::unique_ptr<StatusNotifierWatcher> tray;
    std::unique_ptr<PointerOracle> launcher;
    std::shared_ptr<void> keyboard;
    std::unique_ptr<Child> first;
};

using KWinAndMutter = ::testing::Types<KWinAndItsKeyboard, MutterAndAKeyboard>;
TYPED_TEST_SUITE(SecondStartWayland, KWinAndMutter);

TYPED_TEST(SecondStartWayland, TheLaunchersTokenGivesTheFirstWindowTheFocus) {
    ASSERT_NO_FATAL_FAILURE(this->start());
    const auto token = this->launcher->waitForActivationToken(Clock::now() + 5s);
    ASSERT_TRUE(token) << this->launcher->transcript();

    // No compositor made this one, and it is too long for a Wayland request.
    ASSERT_NO_FATAL_FAILURE(this->startAgain(std::string(5000, 'x')));
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(this->first->running()) << transcript(*this->first);

    // Mutter and KWin 6.3 give the focus only for a token they made; KWin 6.7 also lets the
    // window take it without one, as it may have after the start above.
    ASSERT_NO_FATAL_FAILURE(this->startAgain(token));
    EXPECT_TRUE(this->launcher->waitForFocus(false, Clock::now() + 5s))
        << this->launcher->transcript() << transcript(*this->first);
    EXPECT_TRUE(this->first->running()) << transcript(*this->first);
}

} // namespace
} // namespace brimlow::e2e
