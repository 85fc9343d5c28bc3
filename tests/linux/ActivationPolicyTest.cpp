#include "TestSupport.h"
#include "platform/Controls.h"
#include "platform/linux/qt/QtApplication.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/x11/X11Session.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

// Xlib defines None and Bool as macros: it must follow gtest, whose own names they would hit.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cstdlib>

namespace brimlow::testing {
namespace {

using namespace std::chrono_literals;
using platform::ActivationPolicy;
using namespace platform::linuxdesktop;

bool skipsTaskbar(QWidget* window) {
    Display* display = XOpenDisplay(nullptr);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    bool skips = false;
    if (XGetWindowProperty(display, window->winId(), XInternAtom(display, "_NET_WM_STATE", False),
                           0, 64, False, XA_ATOM, &type, &format, &count, &remaining,
                           &data) == Success &&
        data != nullptr) {
        const Atom skip = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
        auto* atoms = reinterpret_cast<Atom*>(data);
        skips = std::find(atoms, atoms + count, skip) != atoms + count;
        XFree(data);
    }
    XCloseDisplay(display);
    return skips;
}

class Delegate final : public platform::ApplicationDelegate {
public:
    std::function<void()> launched;
    void applicationDidFinishLaunching() override { launched(); }
    bool applicationShouldHandleReopen(bool) override { return false; }
};

// On a display without a window manager the state the program gives the window before it maps
// stays as given, so the test reads what a window manager would be told.
TEST(ActivationPolicy, AnAccessoryWindowShowsWithoutATaskbarEntryARegularOneWithOne) {
    usePrivateXDisplay();
    // A bus that cannot be reached: the test is about the window, not the handover.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    ensureQtApplication();
    RecordingConsole console;
    QtMainLoop loop;
    X11Session x11(console);
    QtApplication application(
        loop,
        [&](unsigned long window, bool mapped, bool skip) {
            x11.setSkipTaskbar(window, mapped, skip);
        },
        {}, console, "");
    Delegate delegate;
    platform::Window* window = nullptr;
    QWidget* widget = nullptr;
    std::vector<std::string> seen;
    auto record = [&](const char* what) {
        seen.push_back(std::string(what) + (skipsTaskbar(widget) ? ": no entry" : ": entry"));
    };
    delegate.launched = [&] {
        for (QWidget* topLevel : QApplication::topLevelWidgets()) {
            if (topLevel->objectName() == "PreferencesWindow") {
                widget = topLevel;
            }
        }
        ASSERT_NE(widget, nullptr);
        application.setActivationPolicy(ActivationPolicy::accessory);
        window->makeKeyAndOrderFront();
        loop.asyncAfter(0.2, [&] {
            record("accessory");
            widget->close();
            application.setActivationPolicy(ActivationPolicy::regular);
            window->makeKeyAndOrderFront();
            loop.asyncAfter(0.2, [&] {
                record("regular");
                EXPECT_EQ(application.activationPolicy(), ActivationPolicy::regular);
                application.terminate();
            });
        });
    };
    int status =
        application.main([&](platform::MainInterface& interface) -> platform::ApplicationDelegate& {
            window = &interface.window();
            return delegate;
        });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"accessory: no entry", "regular: entry"}));
}

} // namespace
} // namespace brimlow::testing
