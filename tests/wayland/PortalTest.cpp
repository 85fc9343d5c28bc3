#include "MutterBusTest.h"
#include "harness/PointerOracle.h"
#include "platform/linux/wayland/PortalRemoteInput.h"
#include "platform/sim/SimDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <cstdint>
#include <fstream>
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
const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

QDBusMessage callOnTheBus(const QString& service, const QString& path, const QString& interface,
                          const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

unsigned remoteDesktopVersion() {
    QDBusMessage answer = callOnTheBus(
        portal, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"),
        {QStringLiteral("org.freedesktop.portal.RemoteDesktop"), QStringLiteral("version")});
    return answer.arguments().isEmpty()
               ? 0
               : answer.arguments().front().value<QDBusVariant>().variant().toUInt();
}

bool portalHasTheHostRegistry() {
    QDBusMessage answer =
        callOnTheBus(portal, portalPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                     QStringLiteral("Introspect"), {});
    return !answer.arguments().isEmpty() &&
           answer.arguments().front().toString().contains(
               QStringLiteral("org.freedesktop.host.portal.Registry"));
}

// The applications the permission store holds the remote desktop grant `token` for.
QStringList applicationsGranted(const std::string& token) {
    QDBusMessage answer = callOnTheBus(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"), QStringLiteral("Lookup"),
        {QStringLiteral("remote-desktop"), QString::fromStdString(token)});
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return {};
    }
    return qdbus_cast<QMap<QString, QStringList>>(answer.arguments().front()).keys();
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

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
        sandbox->installDesktopEntry();
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

    bool dialogCameUpSince(std::size_t seen) const {
        const auto events = oracle->events();
        return std::any_of(
            events.begin() + std::ptrdiff_t(seen), events.end(),
            [](const PointerEvent& event) { return event.kind == PointerEvent::Kind::Leave; });
    }
    void expectANudgeLands(PortalRemoteInput& input) {
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
    expectANudgeLands(input);
}

// Allowed once, a later start (on a connection of its own, as a new process has) is given the
// pointer back with no dialog, and the grant is kept for the program alone.
TEST_F(Portal, AllowedOnceALaterStartMovesWithoutAsking) {
    if (remoteDesktopVersion() < 2) {
        GTEST_SKIP() << "this portal's RemoteDesktop is version 1, which keeps no answer";
    }
    const std::filesystem::path tokenFile = state.path() / "token";
    {
        PortalRemoteInput first(notifications, "com.pellvane.Brimlow2", tokenFile.string(),
                                console);
        requestAndAnswer(first, {{keyTab}, {keySpace}, {keyAlt, keyS}});
        ASSERT_EQ(first.check(), Access::granted);
    }
    const std::string token = fileText(tokenFile);
    ASSERT_FALSE(token.empty()) << "the portal gave no restore token";
    if (portalHasTheHostRegistry()) {
        EXPECT_TRUE(runUntil(
            [&] { return applicationsGranted(token) == QStringList{"com.pellvane.Brimlow2"}; }, 5s))
            << "granted to: " << applicationsGranted(token).join(' ').toStdString();
    }

    const auto seen = oracle->events().size();
    PortalRemoteInput later(notifications, "com.pellvane.Brimlow2", tokenFile.string(), console);
    EXPECT_EQ(later.check(), Access::granted) << "the later start was not given the pointer";
    runUntil([] { return false; }, 1s);
    EXPECT_FALSE(dialogCameUpSince(seen)) << oracle->transcript();
    expectANudgeLands(later);
    EXPECT_FALSE(fileText(tokenFile).empty()) << "the restored session's token was not kept";
    EXPECT_EQ(console.lines(), std::vector<std::string>{});
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
