#include "AtSpi.h"
#include "DesktopTest.h"

namespace brimlow::e2e {
namespace {

using TrayIcon = DesktopTest;

std::optional<AccessibleObject> tooltipAmong(const std::vector<AccessibleObject>& objects) {
    for (const auto& object : objects) {
        if (object.roleName == "tool tip") {
            return object;
        }
    }
    return std::nullopt;
}

std::string describe(const std::vector<AccessibleObject>& objects) {
    std::string text;
    for (const auto& object : objects) {
        text += " [" + object.roleName + " \"" + object.name + "\" at " + describe(object.extents) +
                "]";
    }
    return text.empty() ? " none" : text;
}

TEST_F(TrayIcon, IsEmbeddedInTheTrayAndShowsTheTooltipBrimlow) {
    requireTrayHost();
    StaleAccessibilityBusAddress clearRootProperty(x());
    Sandbox sandbox(displayName());
    auto env = sandbox.environment();
    // What a screen reader turns on; it lets the test read the tooltip's text.
    env.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // Off the icon, or an icon mapped under the pointer would be hovered too early.
    x().warpPointer(0, 0);
    auto program = startProgram(env);

    std::optional<Window> icon;
    pollUntil(program->startedAt() + 5s,
              [&] { return (icon = embeddedIcon(x(), program->pid())).has_value(); });
    ASSERT_TRUE(icon) << "no window of the program was taken into the tray within 5 s";
    EXPECT_EQ(toolkitWarnings(*program), std::vector<std::string>{}) << transcript(*program);
    auto iconArea = x().rootGeometry(*icon);
    ASSERT_TRUE(iconArea);
    EXPECT_GT(iconArea->width, 0);
    EXPECT_GT(iconArea->height, 0);
    // An icon whose image went missing would leave the tray's background showing through.
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] { return x().distinctPixels(*icon) > 1; }))
        << "the icon shows no image";

    // Hover as a user would; the tooltip follows. Not before the preferences window has taken
    // the focus, since that closes any tooltip: with no window manager the toolkit gives it the
    // focus itself, once the window is on screen, which a slow start can put after the hover.
    auto preferences = waitForPreferencesWindow(x(), program->pid(), program->startedAt() + 5s);
    ASSERT_TRUE(preferences) << transcript(*program);
    EXPECT_TRUE(pollUntil(Clock::now() + 3s, [&] {
        auto focus = x().inputFocus();
        return focus && x().topLevelOf(*focus) == preferences->id;
    })) << "the preferences window never took the focus";
    x().fakeMotion(iconArea->x + iconArea->width / 2, iconArea->y + iconArea->height / 2);
    std::optional<Window> tip;
    pollUntil(Clock::now() + 5s,
              [&] { return (tip = tooltipWindow(x(), program->pid())).has_value(); });
    ASSERT_TRUE(tip) << "no tooltip window within 5 s of hovering the icon at "
                     << describe(*iconArea);
    auto tipArea = x().rootGeometry(*tip);
    ASSERT_TRUE(tipArea);

    std::vector<AccessibleObject> published;
    std::optional<AccessibleObject> text;
    pollUntil(
        Clock::now() + 5s,
        [&] {
            published = topLevelAccessibles(sandbox.busAddress(), program->pid());
            return (text = tooltipAmong(published)).has_value();
        },
        200ms);
    ASSERT_TRUE(text) << "the program published no tooltip over AT-SPI; it published:"
                      << describe(published);
    EXPECT_EQ(text->name, "Brimlow");
    EXPECT_EQ(text->extents, *tipArea)
        << "the accessible tooltip is not where the tooltip window is";
}

TEST_F(TrayIcon, IsNotEmbeddedWhenHidden) {
    requireTrayHost();
    Sandbox sandbox(displayName());
    sandbox.writePreferences({{"hideicon", "1"}});
    auto program = startProgram(sandbox.environment());

    // By the first idle tick the program has long set up its icon, had it one.
    ASSERT_TRUE(waitForPreferencesWindow(x(), program->pid(), program->startedAt() + 5s))
        << transcript(*program);
    ASSERT_TRUE(waitForIdleLines(*program, 1, program->startedAt() + 6s)) << transcript(*program);
    EXPECT_FALSE(embeddedIcon(x(), program->pid())) << "an icon was embedded with hideicon=1";
    EXPECT_EQ(sandbox.readPreferences()["hideicon"], "1");
}

} // namespace
} // namespace brimlow::e2e
