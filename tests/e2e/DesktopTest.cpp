#include "DesktopTest.h"

#include "TestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstdlib>
#include <netinet/in.h>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brimlow::e2e {

void DesktopTest::SetUp() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        GTEST_SKIP() << "DISPLAY is not set: these tests need an X server with a tray host; "
                        "scripts/test starts Xvfb and trayer for them";
    }
    if (!findProgram("dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed (package dbus)";
    }
    displayName_ = display;
    x_ = std::make_unique<XConnection>(displayName_);
    becomeSubreaper();
}

void DesktopTest::TearDown() {
    auto left = collectLeftoverChildren(leftoverGrace);
    std::string names;
    for (const auto& name : left) {
        names += " " + name;
    }
    EXPECT_TRUE(left.empty()) << "still running when the test ended:" << names;
}

void DesktopTest::requireTrayHost() const {
    ASSERT_TRUE(x().trayManager().has_value()) << "no tray host owns the system tray on "
                                               << displayName_ << " (scripts/test starts trayer)";
}

std::string unreachableServerHost() {
    return "127.0.0.1:" + std::to_string(testing::closedLoopbackPort());
}

std::optional<SeenWindow> waitForPreferencesWindow(const XConnection& x, pid_t pid,
                                                   Clock::time_point deadline) {
    std::optional<SeenWindow> seen;
    pollUntil(
        deadline,
        [&] {
            if (auto window = preferencesWindow(x, pid)) {
                seen = SeenWindow{*window, Clock::now()};
            }
            return seen.has_value();
        },
        10ms);
    return seen;
}

bool isAlertRole(const std::string& roleName) {
    return roleName == "alert" || roleName == "alert message";
}

namespace {

void collectButtons(const AccessibleNode& node, std::vector<std::string>& labels) {
    if (node.roleName == "push button" && node.showing) {
        labels.push_back(node.name);
    }
    for (const auto& child : node.children) {
        collectButtons(child, labels);
    }
}

} // namespace

std::optional<ShownAlert> waitForAlert(const XConnection& x, const std::string& busAddress,
                                       pid_t pid, const std::string& title, Clock::duration timeout,
                                       std::string& published) {
    std::optional<ShownAlert> shown;
    pollUntil(
        Clock::now() + timeout,
        [&] {
            auto trees = accessibleTrees(busAddress, pid);
            published = describe(trees);
            const auto* alert = findAccessible(trees, [&](const AccessibleNode& node) {
                auto names = accessibleNames(node);
                return isAlertRole(node.roleName) && node.showing &&
                       std::find(names.begin(), names.end(), title) != names.end();
            });
            if (alert == nullptr) {
                return false;
            }
            for (Window window : x.children(x.root())) {
                if (x.cardinal(window, "_NET_WM_PID") == long(pid) && x.isViewable(window) &&
                    x.rootGeometry(window) == alert->extents) {
                    shown = ShownAlert{*alert, {}, window};
                    collectButtons(*alert, shown->buttons);
                    return true;
                }
            }
            return false;
        },
        200ms);
    return shown;
}

bool pressButton(const std::string& busAddress, pid_t pid, const AccessibleNode& within,
                 const std::string& label) {
    const std::vector<AccessibleNode> trees{within};
    const auto* button = findAccessible(trees, [&](const AccessibleNode& node) {
        // A Qt Quick button's name keeps its mnemonic's marker ("&Share").
        std::string name = node.name;
        std::erase(name, '&');
        return node.roleName == "push button" && node.showing && name == label;
    });
    return button != nullptr && doAccessibleAction(busAddress, pid, button->path, "Press");
}

std::optional<Window> tooltipWindow(const XConnection& x, pid_t pid) {
    const Atom tooltipType = x.atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
    for (Window window : x.children(x.root())) {
        if (x.cardinal(window, "_NET_WM_PID") != long(pid) || !x.isViewable(window)) {
            continue;
        }
        for (Atom type : x.atoms(window, "_NET_WM_WINDOW_TYPE")) {
            if (type == tooltipType) {
                return window;
            }
        }
    }
    return std::nullopt;
}

std::optional<double> idleSeconds(const std::string& line) {
    static const std::regex decimal(R"([0-9]+\.[0-9]+)");
    if (!std::regex_match(line, decimal)) {
        return std::nullopt;
    }
    double value = 0;
    std::from_chars(line.data(), line.data() + line.size(), value);
    return value;
}

std::vector<OutputLine> idleLines(const Child& program) {
    std::vector<OutputLine> found;
    for (const auto& line : program.lines()) {
        if (idleSeconds(line.text)) {
            found.push_back(line);
        }
    }
    return found;
}

bool waitForIdleLines(const Child& program, std::size_t count, Clock::time_point deadline) {
    // Each line carries the moment it arrived, so polling costs no precision.
    return pollUntil(
        deadline, [&] { return idleLines(program).size() >= count; }, 10ms);
}

std::vector<std::string> toolkitWarnings(const Child& program) {
    std::vector<std::string> found;
    for (const auto& line : program.lines()) {
        if (line.text.starts_with("qt.")) {
            found.push_back(line.text);
        }
    }
    return found;
}

std::string transcript(const Child& program) {
    std::string text;
    for (const auto& line : program.lines()) {
        text += "\n  " + std::to_string(secondsBetween(program.startedAt(), line.at)) +
                " s: " + line.text;
    }
    return text.empty() ? " (nothing)" : text;
}

} // namespace brimlow::e2e
