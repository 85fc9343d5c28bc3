#include "TestSupport.h"
#include "platform/linux/base/ProcWorkspace.h"
#include "platform/linux/x11/X11Session.h"
#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>

// Xlib defines None and Bool as macros: it must follow gtest, whose own names they would hit.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

namespace brimlow::testing {
namespace {

using namespace std::chrono_literals;
using platform::Access;
using platform::ActivationPolicy;
using platform::Point;
using platform::linuxdesktop::ProcWorkspace;
using platform::linuxdesktop::X11Session;
using platform::linuxdesktop::XIdleClock;
using platform::linuxdesktop::XPointerEvents;
using platform::linuxdesktop::XPostEventAccess;
using platform::linuxdesktop::XWindowOwners;
using platform::sim::deliveredAtOnce;

Point pointerSeenByAnotherClient(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &windowX, &windowY, &mask);
    XCloseDisplay(d);
    return {double(x), double(y)};
}

class X11 : public ::testing::Test {
protected:
    PrivateXServer server;
    RecordingConsole console;
    X11Session session{console, server.name()};
    XIdleClock idleClock{session, console};
    XPointerEvents pointer{session};
    XPostEventAccess access{session};
};

// Past a second without input the idle time is counted without asking the server each time, so
// input from anyone, the user's devices or the program's own moves, has to end that count.
TEST_F(X11, IdleTimeGrowsUntilAnInputEventResetsIt) {
    X11Session usersSession{console, server.name()};
    XPointerEvents usersMouse{usersSession};
    for (XPointerEvents* input : {&usersMouse, &pointer}) {
        while (idleClock.secondsSinceLastInput() < 1.2) {
            std::this_thread::sleep_for(100ms);
        }
        double before = idleClock.secondsSinceLastInput();
        std::this_thread::sleep_for(400ms);
        double later = idleClock.secondsSinceLastInput();
        EXPECT_GE(later - before, 0.35);
        EXPECT_LT(later - before, 2.0);
        ASSERT_EQ(deliveredAtOnce(*input, {10, 10}), true);
        // The server's word that input came travels as an event.
        std::this_thread::sleep_for(100ms);
        EXPECT_LT(idleClock.secondsSinceLastInput(), 0.5);
    }
    EXPECT_TRUE(console.lines().empty());
}

// What makes an idle session cheap: past that second the checks need no answer from the server,
// which here answers nothing at all.
TEST_F(X11, AnIdleSessionIsCheckedWithoutWaitingForTheServer) {
    while (idleClock.secondsSinceLastInput() < 1.2) {
        std::this_thread::sleep_for(100ms);
    }
    // Whatever the server had to say about the last check has arrived by now.
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
    auto counted = std::async(std::launch::async, [&] {
        const double first = idleClock.secondsSinceLastInput();
        std::this_thread::sleep_for(300ms);
        return idleClock.secondsSinceLastInput() - first;
    });
    const bool answered = counted.wait_for(3s) == std::future_status::ready;
    kill(server.pid(), SIGCONT);
    EXPECT_TRUE(answered) << "an idle check waited for the stopped server";
    EXPECT_GE(counted.get(), 0.25);
}

TEST_F(X11, APostedMoveMovesThePointerByExactlyThatMuch) {
    const Point start = pointerSeenByAnotherClient(server.name());
    ASSERT_EQ(deliveredAtOnce(pointer, {-2, 2}), true);
    Point seen = pointerSeenByAnotherClient(server.name());
    EXPECT_EQ(seen.x, start.x - 2);
    EXPECT_EQ(seen.y, start.y + 2);

    // The way back lands where the nudge started.
    ASSERT_EQ(deliveredAtOnce(pointer, {2, -2}), true);
    EXPECT_EQ(pointerSeenByAnotherClient(server.name()), start);
}

TEST_F(X11, AccessIsGrantedWithXTest) {
    EXPECT_EQ(access.check(), Access::granted);
    EXPECT_TRUE(access.isTrusted());
    access.request();
    EXPECT_EQ(access.check(), Access::granted);
}

TEST(X11WithoutXTest, AccessIsDeniedAndNoEventCanBeMade) {
    PrivateXServer server({"-extension", "XTEST"});
    RecordingConsole console;
    X11Session session(console, server.name());
    XPostEventAccess access(session);
    XPointerEvents pointer(session);
    EXPECT_EQ(access.check(), Access::denied);
    EXPECT_FALSE(access.isTrusted());
    Point before = pointerSeenByAnotherClient(server.name());
    EXPECT_EQ(deliveredAtOnce(pointer, {50, 50}), false);
    EXPECT_EQ(pointerSeenByAnotherClient(server.name()), before);
}

TEST(X11WithoutScreenSaver, IdleTimeReadsZeroAndOneLineSaysWhy) {
    PrivateXServer server({"-extension", "MIT-SCREEN-SAVER"});
    RecordingConsole console;
    X11Session session(console, server.name());
    XIdleClock idleClock(session, console);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(idleClock.secondsSinceLastInput(), 0);
    EXPECT_EQ(idleClock.secondsSinceLastInput(), 0);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_NE(console.lines().front().find("MIT-SCREEN-SAVER"), std::string::npos);
}

TEST(X11WithoutServer, EveryAnswerIsCannotTell) {
    RecordingConsole console;
    X11Session session(console, ":65000");
    XIdleClock idleClock(session, console);
    XPointerEvents pointer(session);
    XPostEventAccess access(session);
    EXPECT_EQ(idleClock.secondsSinceLastInput(), 0);
    EXPECT_EQ(deliveredAtOnce(pointer, {1, 1}), false);
    EXPECT_EQ(access.check(), Access::denied);
    EXPECT_EQ(console.lines().size(), 1u);
}

// Windows are made on a display of the test's own, which no window manager runs on until the
// test plays one by setting _NET_CLIENT_LIST. They name as their owner a child process whose
// executable path is unique to the test: other copies of this test program may run meanwhile.
class WorkspaceWindows : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file("/bin/sleep", ownerPath);
        owner = std::make_unique<ChildProcess>(std::vector<std::string>{ownerPath, "30"});
        display = XOpenDisplay(server.name().c_str());
    }
    void TearDown() override { XCloseDisplay(display); }

    Window makeWindow(bool mapped) {
        Window window =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 50, 50, 0, 0, 0);
        long pid = owner->pid();
        XChangeProperty(display, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&pid), 1);
        if (mapped) {
            XMapWindow(display, window);
        }
        XSync(display, False);
        return window;
    }

    void setAtoms(Window window, const char* property, std::vector<const char*> names) {
        std::vector<Atom> atoms;
        for (const char* name : names) {
            atoms.push_back(atom(name));
        }
        XChangeProperty(display, window, atom(property), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(atoms.data()), int(atoms.size()));
        XSync(display, False);
    }

    Atom atom(const char* name) { return XInternAtom(display, name, False); }

    ActivationPolicy policyOfOwner() {
        for (const auto& app : workspace.runningApplications()) {
            if (app.executablePath == ownerPath) {
                return app.activationPolicy;
            }
        }
        ADD_FAILURE() << "the window owner is not listed";
        return ActivationPolicy::accessory;
    }

    TemporaryDirectory directory;
    const std::string ownerPath = directory.path() + "/window-owner";
    std::unique_ptr<ChildProcess> owner;
    PrivateXServer server;
    RecordingConsole console;
    X11Session session{console, server.name()};
    XWindowOwners windows{session};
    ProcWorkspace workspace{console, &windows};
    Display* display = nullptr;
};

TEST_F(WorkspaceWindows, WithoutAWindowManagerAMappedNormalWindowMakesItsOwnerRegular) {
    Window window = makeWindow(false);
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::accessory);
    XMapWindow(display, window);
    XSync(display, False);
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::regular);

    setAtoms(window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::accessory);
    setAtoms(window, "_NET_WM_WINDOW_TYPE",
             {"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_WINDOW_TYPE_NORMAL"});
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::regular);

    XDeleteProperty(display, window, atom("_NET_WM_PID"));
    XSync(display, False);
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::accessory);
}

TEST_F(WorkspaceWindows, WithAWindowManagerItsClientListDecides) {
    Window unlisted = makeWindow(true);
    Window listed = makeWindow(false);
    XChangeProperty(display, DefaultRootWindow(display), atom("_NET_CLIENT_LIST"), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&listed), 1);
    XSync(display, False);
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::regular);

    setAtoms(listed, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DIALOG"});
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::accessory) << "window " << unlisted;

    // A window destroyed while still in the list is passed over, not an error that ends us.
    XDestroyWindow(display, listed);
    XSync(display, False);
    EXPECT_EQ(policyOfOwner(), ActivationPolicy::accessory);
}

} // namespace
} // namespace brimlow::testing
