#pragma once

#include "AtSpi.h"
#include "harness/HeadlessKWin.h"
#include "harness/HeadlessMutter.h"
#include "harness/HeadlessWlroots.h"
#include "harness/PointerOracle.h"
#include "harness/Process.h"
#include "harness/Sandbox.h"

#include <array>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brimlow::e2e {

// From DesktopTest.h, which brings Xlib along.
std::string unreachableServerHost();
std::string transcript(const Child& program);
std::vector<std::string> toolkitWarnings(const Child& program);
bool waitForIdleLines(const Child& program, std::size_t count, Clock::time_point deadline);
bool isAlertRole(const std::string& roleName);
bool pressButton(const std::string& busAddress, pid_t pid, const AccessibleNode& within,
                 const std::string& label);

// A test on a headless compositor of its own (mutter, unless the fixture names another): it
// needs no display of the test process's, and fails if any process it started is still there
// when it ends.
class WaylandTest : public ::testing::Test {
protected:
    // The Debian package the compositor needs that this machine lacks; the test skips then.
    virtual std::optional<std::string> missingPackage() const { return missingMutterPackage(); }
    // Why the compositor cannot run on this machine's devices; the test skips then.
    virtual std::optional<std::string> missingDevice() const { return std::nullopt; }

    void SetUp() override {
        if (auto missing = missingPackage()) {
            GTEST_SKIP() << *missing << " is not installed; scripts/test installs it";
        }
        if (auto missing = missingDevice()) {
            GTEST_SKIP() << *missing;
        }
        becomeSubreaper();
    }
    void TearDown() override {
        auto left = collectLeftoverChildren(leftoverGrace);
        std::string names;
        for (const auto& name : left) {
            names += " " + name;
        }
        EXPECT_TRUE(left.empty()) << "still running when the test ended:" << names;
    }

    // The program's lines that start with `beginning`.
    static std::vector<std::string> linesStarting(const Child& program,
                                                  const std::string& beginning);

    // Where the pointer went after the first `seen` events. A new virtual pointer (a
    // remote-desktop session, a virtual pointer or fake input device) enters the surface at its
    // first move rather than moving in it.
    static std::vector<PointerEvent> movesAfter(const PointerOracle& oracle, std::size_t seen);

    // The node for which `match` holds in what `program` publishes over AT-SPI (through the
    // session bus at `busAddress`), once it does; what it published last stays in `published`,
    // for failure messages.
    std::optional<AccessibleNode>
    waitForAccessible(const std::string& busAddress, const Child& program,
                      const std::function<bool(const AccessibleNode&)>& match);
    // Whether the program shows its warning that it may not move the pointer.
    bool warningShown(const std::string& busAddress, const Child& program);
    // Presses that warning as a screen reader does and returns the alert that explains it;
    // nothing, with the test failed, if either never shows.
    std::optional<AccessibleNode> pressTheWarning(const std::string& busAddress,
                                                  const Child& program);

    std::vector<AccessibleNode> published;
};

// The compositors of KDE Plasma and of wlroots, for tests written once for both: how to start
// one, and the Wayland protocols through which the program has to reach it.
struct KWinSession {
    static constexpr const char* desktop = "KDE";
    static constexpr std::array<std::string_view, 1> idleProtocols{"ext_idle_notifier_v1"};
    static constexpr const char* pointerProtocol = "org_kde_kwin_fake_input";
    static std::optional<std::string> missingPackage() { return missingKWinPackage(); }
    static std::unique_ptr<HeadlessCompositor>
    start(const Sandbox& sandbox, const std::vector<std::filesystem::path>& fakeInputClients) {
        return std::make_unique<HeadlessKWin>(sandbox, fakeInputClients);
    }
};

// wlroots, and Hyprland, let every client make a virtual pointer.
template <WlrootsCompositor compositor> struct WlrootsSession {
    static constexpr std::array<std::string_view, 1> idleProtocols{"ext_idle_notifier_v1"};
    static constexpr const char* pointerProtocol = "zwlr_virtual_pointer_manager_v1";
    static std::optional<std::string> missingPackage() { return missingWlrootsPackage(compositor); }
    static std::optional<std::string> missingDevice() { return missingWlrootsDevice(compositor); }
    static std::unique_ptr<HeadlessCompositor> start(const Sandbox& sandbox,
                                                     const std::vector<std::filesystem::path>&) {
        return std::make_unique<HeadlessWlroots>(sandbox, compositor);
    }
};

struct SwaySession : WlrootsSession<WlrootsCompositor::sway> {
    static constexpr const char* desktop = "sway";
    // Whichever the release offers: sway 1.7 has no ext_idle_notifier_v1 yet, and from 1.9 on
    // (wlroots 0.17) no org_kde_kwin_idle.
    static constexpr std::array<std::string_view, 2> idleProtocols{"ext_idle_notifier_v1",
                                                                   "org_kde_kwin_idle"};
};

struct LabwcSession : WlrootsSession<WlrootsCompositor::labwc> {
    static constexpr const char* desktop = "labwc";
};

struct WayfireSession : WlrootsSession<WlrootsCompositor::wayfire> {
    static constexpr const char* desktop = "wayfire";
};

struct HyprlandSession : WlrootsSession<WlrootsCompositor::hyprland> {
    static constexpr const char* desktop = "Hyprland";
};

using KWinAndWlroots =
    ::testing::Types<KWinSession, SwaySession, LabwcSession, WayfireSession, HyprlandSession>;

// A test on the compositor of `Session`.
template <typename Session> class CompositorTest : public WaylandTest {
protected:
    std::optional<std::string> missingPackage() const override { return Session::missingPackage(); }
    // Only some sessions need a device of their own.
    std::optional<std::string> missingDevice() const override {
        if constexpr (requires { Session::missingDevice(); }) {
            return Session::missingDevice();
        } else {
            return std::nullopt;
        }
    }
};

} // namespace brimlow::e2e
