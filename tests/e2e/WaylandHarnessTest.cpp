// The Wayland harness against the real thing: headless mutter, its idle monitor and remote
// desktop, headless KWin and sway with the test's own pointer device, the pointer oracle as a
// Wayland client of each, and the tray watcher on a real bus.
#include "WaylandTest.h"
#include "harness/HeadlessMutter.h"
#include "harness/PointerOracle.h"
#include "harness/QtBus.h"
#include "harness/StatusNotifierWatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

std::optional<std::string> environmentOfProcess(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ");
    const std::string prefix = name + "=";
    for (std::string entry; std::getline(in, entry, '\0');) {
        if (entry.starts_with(prefix)) {
            return entry.substr(prefix.size());
        }
    }
    return std::nullopt;
}

using WaylandHarness = WaylandTest;

TEST_F(WaylandHarness, MutterComesUpOnTheSandboxBusAwayFromTheTestsOwnDisplay) {
    Sandbox sandbox("");
    HeadlessMutter mutter(sandbox);
    std::cout << "mutter ready after "
              << std::chrono::duration<double>(mutter.startupTime()).count() << " s\n";

    EXPECT_FALSE(environmentOfProcess(mutter.pid(), "DISPLAY"))
        << "mutter was handed the display of the tests";
    EXPECT_FALSE(mutter.xDisplay());
    const auto env = mutter.clientEnvironment();
    EXPECT_EQ(variableIn(env, "WAYLAND_DISPLAY"), mutter.waylandDisplay());
    EXPECT_EQ(variableIn(env, "XDG_SESSION_TYPE"), "wayland");
    EXPECT_EQ(variableIn(env, "DBUS_SESSION_BUS_ADDRESS"), sandbox.busAddress());
    EXPECT_FALSE(variableIn(env, "DISPLAY")) << "a client would take the session for X11";

    // Nobody touches this session, so its idle time only grows.
    const auto first = mutter.idleTimeMs();
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] { return mutter.idleTimeMs() > first; }))
        << "the idle time stayed at " << first << " ms";
}

TEST_F(WaylandHarness, TheTestsOwnInputMovesThePointerEveryClientSeesExactlyAndResetsTheIdleTime) {
    Sandbox sandbox("");
    HeadlessMutter mutter(sandbox);
    PointerOracle oracle(mutter.clientEnvironment());
    EXPECT_EQ(oracle.surface(), (Rect{0, 0, 1280, 800})) << "the oracle is not fullscreen";
    // Idle long enough that a reset stands out from the time the calls below take.
    std::uint64_t idleBefore = 0;
    ASSERT_TRUE(
        pollUntil(Clock::now() + 5s, [&] { return (idleBefore = mutter.idleTimeMs()) >= 1000; }));

    RemoteDesktopSession user(mutter);
    const SurfacePoint start{300, 200};
    ASSERT_TRUE(placePointerSeenBy(user, oracle, start, Clock::now() + 5s))
        << "the pointer never reached " << start << ":" << oracle.transcript();
    EXPECT_EQ(oracle.events().front().kind, PointerEvent::Kind::Enter) << oracle.transcript();

    const auto eventsBefore = oracle.events().size();
    user.movePointerBy(-2, 2);
    const auto movedAt = Clock::now();
    ASSERT_TRUE(oracle.waitForEvents(eventsBefore + 1, Clock::now() + 3s)) << oracle.transcript();
    user.movePointerBy(2, -2);
    ASSERT_TRUE(oracle.waitForEvents(eventsBefore + 2, Clock::now() + 3s)) << oracle.transcript();
    const auto idleAfter = mutter.idleTimeMs();
    const auto sinceMove =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - movedAt);

    const auto events = oracle.events();
    ASSERT_EQ(events.size(), eventsBefore + 2) << oracle.transcript();
    EXPECT_EQ(events[eventsBefore].kind, PointerEvent::Kind::Motion);
    EXPECT_EQ(events[eventsBefore].at, (SurfacePoint{start.x - 2, start.y + 2}));
    EXPECT_EQ(events[eventsBefore + 1].kind, PointerEvent::Kind::Motion);
    EXPECT_EQ(events[eventsBefore + 1].at, start);
    EXPECT_LE(idleAfter, std::uint64_t(sinceMove.count()) + 100)
        << "idle " << idleBefore << " ms before the moves, " << idleAfter << " ms after";

    kill(oracle.process().pid(), SIGTERM);
    EXPECT_EQ(oracle.process().waitForExit(5s), 0) << "the oracle did not end cleanly";
}

TEST_F(WaylandHarness, WithXwaylandClientsGetItsDisplayAndCookie) {
    if (!findProgram("xdpyinfo")) {
        GTEST_SKIP() << "xdpyinfo is not installed (package x11-utils)";
    }
    Sandbox sandbox("");
    std::string lockFile;
    {
        HeadlessMutter mutter(sandbox, Xwayland::On);
        ASSERT_TRUE(mutter.xDisplay());
        const auto env = mutter.clientEnvironment();
        EXPECT_EQ(variableIn(env, "DISPLAY"), mutter.xDisplay());
        EXPECT_EQ(variableIn(env, "XAUTHORITY"), mutter.xAuthority());
        EXPECT_EQ(variableIn(env, "WAYLAND_DISPLAY"), mutter.waylandDisplay());
        lockFile = "/tmp/.X" + mutter.xDisplay()->substr(1) + "-lock";
        EXPECT_TRUE(std::filesystem::exists(lockFile));

        SpawnOptions options;
        options.argv = {"xdpyinfo", "-queryExtensions"};
        options.env = env;
        options.captureStdout = true;
        Child client(options);
        ASSERT_EQ(client.waitForExit(10s), 0) << "an X client of the session could not connect";
        ASSERT_TRUE(client.waitForOutputEnd(5s));

        // xdpyinfo lists each extension indented by four spaces, its opcode after the name.
        const auto lines = client.lines();
        auto offers = [&](const std::string& extension) {
            return std::any_of(lines.begin(), lines.end(), [&](const OutputLine& line) {
                return line.text.starts_with("    " + extension + "  (");
            });
        };
        // The trap a program must not fall into: XTEST is there, so posting events looks
        // allowed, but there is no idle time to read and no Wayland client would see the moves.
        EXPECT_TRUE(offers("XTEST")) << lines.size() << " lines from xdpyinfo";
        EXPECT_FALSE(offers("MIT-SCREEN-SAVER"));
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile))
        << "mutter left its X display behind: the next server takes it for one in use";
}

template <typename Session> using CompositorHarness = CompositorTest<Session>;
TYPED_TEST_SUITE(CompositorHarness, KWinAndWlroots);

// What the tests of the program take for the truth: the user's placement seen by every client
// exactly, and the compositor's idle notifications a second after the last input and again at
// the next.
TYPED_TEST(CompositorHarness, TheUsersPlacementReachesClientsExactlyAndEndsTheIdleSpell) {
    Sandbox sandbox("");
    const auto compositor = TypeParam::start(sandbox, {pointerPlacerPath()});
    const auto env = compositor->clientEnvironment();
    EXPECT_EQ(variableIn(env, "XDG_CURRENT_DESKTOP"), TypeParam::desktop);
    EXPECT_FALSE(variableIn(env, "DISPLAY")) << "a client would take the session for X11";
    PointerOracle oracle(env);
    EXPECT_EQ(oracle.surface(), (Rect{0, 0, 1280, 800})) << "the oracle is not fullscreen";
    // A mouse there before the user moves it, as at any login: Hyprland tells a client that
    // asks for the pointer as the first device arrives that it entered at (-1, -1).
    PointerPlacer mouse(env, {100, 100});
    const auto pluggedInAt = Clock::now();
    ASSERT_TRUE(pollUntil(Clock::now() + 3s,
                          [&] {
                              const auto reports = oracle.idleReports();
                              return !reports.empty() && reports.back().idle &&
                                     reports.back().arrived > pluggedInAt;
                          }))
        << "idle a second after the last input, yet no report:" << oracle.transcript();
    const std::size_t before = oracle.idleReports().size();

    const SurfacePoint spot{300, 200};
    PointerPlacer user(env, spot);
    const auto placedAt = Clock::now();
    ASSERT_TRUE(oracle.waitForPosition(spot, Clock::now() + 5s)) << oracle.transcript();
    ASSERT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        return oracle.idleReports().size() >= before + 2;
    })) << oracle.transcript();
    const auto reports = oracle.idleReports();
    EXPECT_FALSE(reports[before].idle);
    EXPECT_NEAR(secondsBetween(placedAt, reports[before].arrived), 0, 0.5);
    EXPECT_TRUE(reports[before + 1].idle);
    EXPECT_NEAR(secondsBetween(reports[before].arrived, reports[before + 1].arrived), 1.0, 0.5);
}

// An icon pixmap of an item's ToolTip: width, height, ARGB32 in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};

QDBusArgument& operator<<(QDBusArgument& out, const IconPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, IconPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

} // namespace
} // namespace brimlow::e2e

Q_DECLARE_METATYPE(brimlow::e2e::IconPixmap)

namespace brimlow::e2e {
namespace {

// A tray item as a program publishes it: Title and ToolTip under its own bus name.
class FakeTrayItem : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const auto arguments = message.arguments();
        if (message.member() != QLatin1String("Get") || arguments.size() != 2 ||
            arguments[0].toString() != QLatin1String("org.kde.StatusNotifierItem")) {
            return false;
        }
        QVariant value;
        if (arguments[1].toString() == QLatin1String("Title")) {
            value = QStringLiteral("Brimlow");
        } else if (arguments[1].toString() == QLatin1String("ToolTip")) {
            QDBusArgument tip;
            tip.beginStructure();
            tip << QStringLiteral("brimlow-idle")
                << QList<IconPixmap>{{2, 1, QByteArray(8, '\x7f')}} << QStringLiteral("Brimlow")
                << QStringLiteral("Idle for 3 s");
            tip.endStructure();
            value = QVariant::fromValue(tip);
        } else {
            return false;
        }
        return QDBusConnection(connection)
            .send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
    }
};

// The fake item on the bus, answering on a thread of its own while the test blocks on the
// watcher, until it leaves the bus as a program that quits does.
class PublishedItem {
public:
    PublishedItem(const std::string& busAddress, const QString& name)
        : bus_(busAddress), name_(name) {
        item_.moveToThread(&thread_);
        thread_.start();
        published_ =
            bus_.get().registerService(name) &&
            bus_.get().registerVirtualObject(QStringLiteral("/StatusNotifierItem"), &item_);
    }
    ~PublishedItem() { leave(); }
    PublishedItem(const PublishedItem&) = delete;
    PublishedItem& operator=(const PublishedItem&) = delete;

    bool published() const { return published_; }
    const QString& name() const { return name_; }
    void leave() {
        bus_.get().unregisterObject(QStringLiteral("/StatusNotifierItem"));
        bus_.get().unregisterService(name_);
        thread_.quit();
        thread_.wait();
    }

private:
    QtBusConnection bus_;
    QString name_;
    FakeTrayItem item_;
    QThread thread_;
    bool published_ = false;
};

TEST_F(WaylandHarness, TheTrayWatcherListsRegisteredItemsUntilTheyLeaveTheBus) {
    qDBusRegisterMetaType<IconPixmap>();
    Sandbox sandbox("");
    StatusNotifierWatcher watcher(sandbox.busAddress());
    EXPECT_THROW({ StatusNotifierWatcher second(sandbox.busAddress()); }, std::runtime_error)
        << "a second watcher took the name";

    PublishedItem item(sandbox.busAddress(),
                       QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(getpid()));
    ASSERT_TRUE(item.published());
    QtBusConnection host(sandbox.busAddress());
    const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
    EXPECT_EQ(host.property(watcherName, watcherPath, watcherName,
                            QStringLiteral("IsStatusNotifierHostRegistered")),
              QVariant(true));

    // What QSystemTrayIcon sends: its bus name. The watcher announces the item.
    QEventLoop announced;
    QTimer::singleShot(5000, &announced, [&] { announced.exit(1); });
    host.get().connect(watcherName, watcherPath, watcherName,
                       QStringLiteral("StatusNotifierItemRegistered"), &announced, SLOT(quit()));
    host.call(watcherName, watcherPath, watcherName, QStringLiteral("RegisterStatusNotifierItem"),
              {item.name()});
    EXPECT_EQ(announced.exec(), 0) << "no StatusNotifierItemRegistered signal";

    const StatusNotifierItem expected{item.name().toStdString(), "/StatusNotifierItem"};
    EXPECT_EQ(watcher.items(), std::vector<StatusNotifierItem>{expected});
    EXPECT_EQ(host.property(watcherName, watcherPath, watcherName,
                            QStringLiteral("RegisteredStatusNotifierItems")),
              QVariant(QStringList{QString::fromStdString(expected.id())}));
    EXPECT_EQ(watcher.textProperty(expected, "Title"), "Brimlow");
    auto tip = watcher.toolTip(expected);
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->iconName, "brimlow-idle");
    EXPECT_EQ(tip->title, "Brimlow");
    EXPECT_EQ(tip->description, "Idle for 3 s");
    EXPECT_FALSE(watcher.textProperty(expected, "Status")) << "an unanswered property read as text";

    // A name nobody owns is refused, not listed.
    EXPECT_THROW(host.call(watcherName, watcherPath, watcherName,
                           QStringLiteral("RegisterStatusNotifierItem"),
                           {QStringLiteral("org.kde.StatusNotifierItem-0-0")}),
                 std::runtime_error);
    EXPECT_EQ(watcher.items().size(), 1u);

    item.leave();
    EXPECT_TRUE(pollUntil(Clock::now() + 5s, [&] { return watcher.items().empty(); }))
        << "the item stayed listed after its name left the bus";
}

} // namespace
} // namespace brimlow::e2e
