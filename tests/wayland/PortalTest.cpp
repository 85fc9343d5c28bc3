#include "MutterBusTest.h"
#include "harness/PointerOracle.h"
#include "platform/linux/wayland/PortalRemoteInput.h"
#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>

namespace brimlow::e2e {
namespace {

using platform::Access;
using platform::linuxdesktop::PortalRemoteInput;
using platform::sim::deliveredAtOnce;
using Keys = std::vector<std::uint32_t>;

constexpr std::uint32_t keyTab = 0xff09;
constexpr std::uint32_t keySpace = 0x20;
constexpr std::uint32_t keyEscape = 0xff1b;
constexpr std::uint32_t keyAlt = 0xffe9;
constexpr std::uint32_t keyShift = 0xffe1;
constexpr std::uint32_t keyS = 0x73;
const SurfacePoint rest{640, 400};

// The RemoteDesktop portal with its GNOME backend, started by the bus of a headless mutter, and
// the user answering its dialog from the keyboard.
class Portal : public MutterBusTest {
protected:
    void SetUp() override {
        for (const char* program :
             {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome"}) {
            if (!std::filesystem::exists(program)) {
                GTEST_SKIP() << program << " is not installed; scripts/test installs it";
            }
        }
        MutterBusTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        // Before the portal is first called, which starts it.
        mutter->shareEnvironmentWithTheBus();
        oracle = std::make_unique<PointerOracle>(mutter->clientEnvironment());
        user = std::make_unique<RemoteDesktopSession>(*mutter);
        ASSERT_TRUE(placePointerSeenBy(*user, *oracle, rest, Clock::now() + 5s))
            << oracle->transcript();
        // A keyboard appears with the first key, and the dialog has to find one.
        user->tapKey(keyShift);
    }
    void TearDown() override {
        user.reset();
        oracle.reset();
        MutterBusTest::TearDown();
    }

    // Opens the portal's dialog and answers it, a key at a time as a person types.
    void requestAndAnswer(PortalRemoteInput& input, const std::vector<Keys>& answer) {
        input.request();
        // The dialog covers the oracle's surface under the pointer when it comes up.
        ASSERT_TRUE(runUntil(
            [&] {
                auto events = oracle->events();
                return !events.empty() && events.back().kind == PointerEvent::Kind::Leave;
            },
            10s))
            << "no dialog came up" << oracle->transcript();
        runUntil([] { return false; }, 1s);
        for (const Keys& keys : answer) {
            user->tapKeys(keys);
            runUntil([] { return false; }, 300ms);
        }
        ASSERT_TRUE(runUntil([&] { return !notifications.posted.empty(); }, 10s))
            << "the dialog gave no answer";
        EXPECT_EQ(notifications.posted.front().name, "com.apple.accessibility.api");
        EXPECT_EQ(notifications.posted.front().object, "com.pellvane.Brimlow2");
    }

    std::unique_ptr<PointerOracle> oracle;
    std::unique_ptr<RemoteDesktopSession> user;
    platform::sim::SimNotifications notifications;
    platform::sim::SimConsole console;
    TempDir state;
};

TEST_F(Portal, AllowedTheSessionMovesThePointerExactly) {
    ASSERT_TRUE(PortalRemoteInput::isAvailable());
    PortalRemoteInput input(notifications, "com.pellvane.Brimlow2",
                            (state.path() / "token").string(), console);
    EXPECT_EQ(input.check(), Access::undecided);
    EXPECT_EQ(deliveredAtOnce(input, {-2, 2}), false) << "moved before the user allowed it";

    // To the switch "Allow remote interaction", on, then Share.
    requestAndAnswer(input, {{keyTab}, {keySpace}, {keyAlt, keyS}});
    EXPECT_EQ(input.check(), Access::granted);
    EXPECT_TRUE(input.isTrusted());

    const auto seen = oracle->events().size();
    platform::sim::DeliveryRecord moves;
    input.postMouseMovedBy({-2, 2}, moves.report());
    input.postMouseMovedBy({2, -2}, moves.report());
    ASSERT_TRUE(runUntil([&] { return moves.answers.size() == 2; }, 3s));
    EXPECT_TRUE(moves.answers[0].delivered && moves.answers[1].delivered)
        << moves.answers[0].failure << moves.answers[1].failure;
    ASSERT_TRUE(oracle->waitForEvents(seen + 2, Clock::now() + 3s)) << oracle->transcript();
    EXPECT_EQ(oracle->events()[seen].at, (SurfacePoint{rest.x - 2, rest.y + 2}));
    EXPECT_EQ(oracle->events()[seen + 1].at, rest);
}

TEST_F(Portal, RefusedNothingMovesAndThePermissionIsDenied) {
    PortalRemoteInput input(notifications, "com.pellvane.Brimlow2",
                            (state.path() / "token").string(), console);
    requestAndAnswer(input, {{keyEscape}});
    EXPECT_EQ(input.check(), Access::denied);
    EXPECT_FALSE(input.isTrusted());
    EXPECT_EQ(deliveredAtOnce(input, {-2, 2}), false);
    EXPECT_EQ(console.lines(),
              std::vector<std::string>{"The remote desktop portal gave no pointer: you did not "
                                       "allow it"});
}

} // namespace
} // namespace brimlow::e2e
