#pragma once

// clang-format off
// GoogleTest before Xlib, whose macros (None, Bool, Status) break GoogleTest's headers.
#include <gtest/gtest.h>
// clang-format on

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

struct SeenWindow {
    Window id = 0;
    Clock::time_point at;
};

// The program's preferences window: a top-level window of `pid`, on screen, titled "Brimlow…",
// and not the tray icon.
std::optional<Window> preferencesWindow(const XConnection& x, pid_t pid);
std::optional<SeenWindow> waitForPreferencesWindow(const XConnection& x, pid_t pid,
                                                   Clock::time_point deadline);

// A tooltip window of `pid` on screen.
std::optional<Window> tooltipWindow(const XConnection& x, pid_t pid);

// An idle line as the program prints it ("3.0", "4.012"); nothing for any other line.
std::optional<double> idleSeconds(const std::string& line);

// The idle lines among what the program printed (it prints other diagnostics too).
std::vector<OutputLine> idleLines(const Child& program);
bool waitForIdleLines(const Child& program, std::size_t count, Clock::time_point deadline);

// The text of every captured line, for failure messages.
std::string transcript(const Child& program);

} // namespace brimlow::e2e
