#pragma once

// clang-format off
// GoogleTest before Xlib, whose macros (None, Bool, Status) break GoogleTest's headers.
#include <gtest/gtest.h>
// clang-format on

#include "AtSpi.h"
#include "harness/Process.h"
#include "harness/Sandbox.h"
#include "harness/XServer.h"

#include <memory>
#include <optional>
#include <string>

namespace brimlow::e2e {

// A test of the real program on the X display it is given (scripts/test starts Xvfb with a
// trayer tray host). Each test gets its own session bus, home and configuration, and fails if
// any process it started is still there when it ends.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& displayName() const { return displayName_; }
    const XConnection& x() const { return *x_; }

    // Fails the test unless a tray host owns the system tray on the display.
    void requireTrayHost() const;

private:
    std::string displayName_;
    std::unique_ptr<XConnection> x_;
};

// Qt looks for the accessibility bus on the root window first; an address left there by an
// earlier run's bus (long gone) would hide the one this test's bus starts.
class StaleAccessibilityBusAddress {
public:
    explicit StaleAccessibilityBusAddress(const XConnection& x) : x_(x) { clear(); }
    ~StaleAccessibilityBusAddress() { clear(); }
    StaleAccessibilityBusAddress(const StaleAccessibilityBusAddress&) = delete;
    StaleAccessibilityBusAddress& operator=(const StaleAccessibilityBusAddress&) = delete;

private:
    void clear() {
        XDeleteProperty(x_.get(), x_.root(), x_.atom("AT_SPI_BUS"));
        x_.sync();
    }
    const XConnection& x_;
};

// "127.0.0.1:PORT" with nothing listening on PORT: a server host the program cannot reach, and
// a refusal that comes at once.
std::string unreachableServerHost();

struct SeenWindow {
    Window id = 0;
    Clock::time_point at;
};

std::optional<SeenWindow> waitForPreferencesWindow(const XConnection& x, pid_t pid,
                                                   Clock::time_point deadline);

// AT-SPI's own name for an alert's role is "alert"; Qt names it "alert message".
bool isAlertRole(const std::string& roleName);

// A modal alert of the program, as a screen reader and the X server see it.
struct ShownAlert {
    // The accessible object of the alert's role with everything in it.
    AccessibleNode tree;
    // The labels of the buttons on it, in the order they are published.
    std::vector<std::string> buttons;
    // The program's top-level window that covers exactly the alert's area.
    Window window = 0;
};

// Waits for an alert of `pid`, published on the accessibility bus of the session bus at
// `busAddress`, that shows the text `title`, and for its window on the X server. What the
// program published last goes to `published`, for failure messages.
std::optional<ShownAlert> waitForAlert(const XConnection& x, const std::string& busAddress,
                                       pid_t pid, const std::string& title, Clock::duration timeout,
                                       std::string& published);

// Presses the button on screen labelled `label` (its mnemonic's marker aside) inside `within` as
// assistive technology does; false if there is no such button or the press failed.
bool pressButton(const std::string& busAddress, pid_t pid, const AccessibleNode& within,
                 const std::string& label);

// A tooltip window of `pid` on screen.
std::optional<Window> tooltipWindow(const XConnection& x, pid_t pid);

// An idle line as the program prints it ("3.0", "4.012"); nothing for any other line.
std::optional<double> idleSeconds(const std::string& line);

// The idle lines among what the program printed (it prints other diagnostics too).
std::vector<OutputLine> idleLines(const Child& program);
bool waitForIdleLines(const Child& program, std::size_t count, Clock::time_point deadline);

// What Qt complained about (its categories start with "qt."), among the captured lines.
std::vector<std::string> toolkitWarnings(const Child& program);

// The text of every captured line, for failure messages.
std::string transcript(const Child& program);

} // namespace brimlow::e2e
