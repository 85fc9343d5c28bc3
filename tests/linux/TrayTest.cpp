#include "TestSupport.h"
#include "platform/linux/qt/TrayStatusBar.h"
#include "platform/linux/qt/UiMainInterface.h"

#include <QMenu>
#include <gtest/gtest.h>

// Xlib defines None and Bool as macros: it must follow gtest, whose own names they would hit.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace brimlow::testing {
namespace {

using namespace std::chrono_literals;
using platform::linuxdesktop::BundleImageLibrary;
using platform::linuxdesktop::QtMenu;
using platform::linuxdesktop::TrayStatusBar;

// This process's windows that a tray host has taken in (reparented away from the root).
int embeddedWindowsOfThisProcess(Display* display) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Window root = DefaultRootWindow(display);
    int found = 0;
    std::vector<Window> pending{root};
    while (!pending.empty()) {
        Window window = pending.back();
        pending.pop_back();
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0) {
            continue;
        }
        pending.insert(pending.end(), children, children + count);
        if (children != nullptr) {
            XFree(children);
        }
        Atom type = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        if (window != root && parent != root &&
            XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &remaining, &data) == Success &&
            data != nullptr) {
            if (items == 1 && *reinterpret_cast<long*>(data) == getpid()) {
                ++found;
            }
            XFree(data);
        }
    }
    return found;
}

// Qt's XEmbed tray icon on a display of the test process's own, in a real tray host.
TEST(Tray, AnItemSitsInTheTrayUntilItIsDestroyed) {
    usePrivateXDisplay();
    // A bus that cannot be reached (unset, libdbus would start one for the display): without a
    // session bus Qt cannot choose a StatusNotifierItem, and the host here is XEmbed.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    ChildProcess host(std::system("command -v trayer >/dev/null") == 0
                          ? std::vector<std::string>{"trayer", "--edge", "top", "--widthtype",
                                                     "request", "--height", "24"}
                          : std::vector<std::string>{"stalonetray", "--geometry", "1x1-0+0"});
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    for (int tries = 0; tries < 100 && XGetSelectionOwner(display, selection) == None; ++tries) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_NE(XGetSelectionOwner(display, selection), None) << "the tray host did not start";
    ensureQtApplication();

    QMenu menu;
    menu.addAction("Quit Brimlow");
    QtMenu statusMenu(&menu);
    BundleImageLibrary images(BRIMLOW_SOURCE_DIR "/app/resources/icons");
    RecordingConsole console;
    TrayStatusBar bar{console};
    auto item = bar.addItem();
    item->setImage(images.imageNamed("trayicon"));
    item->setToolTip("Brimlow");
    item->setMenu(statusMenu);
    EXPECT_TRUE(runEventsUntil([&] { return embeddedWindowsOfThisProcess(display) == 1; }));
    EXPECT_TRUE(console.lines().empty()) << "a tray host was there";

    // Changing the image, also to none, keeps the icon where it is.
    item->setImage(nullptr);
    item->setImage(images.imageNamed("trayicon_green"));
    runEventsFor(200ms);
    EXPECT_EQ(embeddedWindowsOfThisProcess(display), 1);

    item.reset();
    EXPECT_TRUE(runEventsUntil([&] { return embeddedWindowsOfThisProcess(display) == 0; }));
    XCloseDisplay(display);
}

} // namespace
} // namespace brimlow::testing
