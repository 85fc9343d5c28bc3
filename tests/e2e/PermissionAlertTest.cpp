#include "DesktopTest.h"

#include <algorithm>

namespace brimlow::e2e {
namespace {

using PermissionAlert = DesktopTest;

const std::string warningLabel = "Permission needed…";

TEST_F(PermissionAlert, ExplainsTheDeniedPermissionOnAServerWithoutXTest) {
    // Without XTEST the test cannot click either; it presses as a screen reader does.
    VirtualServer server({"-extension", "XTEST"});
    XConnection x(server.displayName());
    ASSERT_FALSE(x.hasExtension("XTEST")) << "the server still offers XTEST";

    Sandbox sandbox(server.displayName());
    Environment env = sandbox.environment();
    env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.set("BRIMLOW_SERVER_HOST", unreachableServerHost());
    auto program = startProgram(env);
    ASSERT_TRUE(waitForPreferencesWindow(x, program->pid(), program->startedAt() + 5s))
        << transcript(*program);

    std::vector<AccessibleNode> trees;
    const AccessibleNode* warning = nullptr;
    pollUntil(
        Clock::now() + 5s,
        [&] {
            trees = accessibleTrees(sandbox.busAddress(), program->pid());
            warning = findAccessible(trees, [](const AccessibleNode& node) {
                return node.roleName == "push button" && node.name == warningLabel && node.showing;
            });
            return warning != nullptr;
        },
        200ms);
    ASSERT_TRUE(warning) << "no warning button on screen; the program published:"
                         << describe(trees);
    const auto actions = warning->actions;
    ASSERT_NE(std::find(actions.begin(), actions.end(), "Press"), actions.end()) << describe(trees);
    EXPECT_FALSE(findAccessible(
        trees, [](const AccessibleNode& node) { return isAlertRole(node.roleName); }))
        << "an alert was up before the button was pressed:" << describe(trees);

    ASSERT_TRUE(doAccessibleAction(sandbox.busAddress(), program->pid(), warning->path, "Press"));
    std::string published;
    auto alert = waitForAlert(x, sandbox.busAddress(), program->pid(),
                              "Accessibility permission needed", 5s, published);
    ASSERT_TRUE(alert) << "no alert \"Accessibility permission needed\" on screen within 5 s; "
                          "the program published:"
                       << published << transcript(*program);
    const auto names = accessibleNames(alert->tree);
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return name.starts_with("If you have already granted the permission, please quit "
                                "and relaunch the app.");
    })) << published;
    EXPECT_EQ(alert->buttons, std::vector<std::string>{"OK"}) << published;

    ASSERT_TRUE(pressButton(sandbox.busAddress(), program->pid(), alert->tree, "OK"));
    EXPECT_TRUE(pollUntil(Clock::now() + 5s, [&] { return !x.isViewable(alert->window); }))
        << "the alert stayed on screen after OK";
    EXPECT_TRUE(program->running()) << transcript(*program);
}

} // namespace
} // namespace brimlow::e2e
