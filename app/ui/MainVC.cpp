#include "MainVC.h"

#include "PreferenceKeys.h"
#include "app/shell/AppDelegate.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brimlow {

MainVC* mainVC = nullptr;

namespace {

constexpr std::int64_t minimumIdleSeconds = 15;
constexpr int fallbackIdleSeconds = 60;

// Stored thresholds below the minimum, or too large for the stepper's 32-bit value, fall back.
int seedIdleSeconds(std::int64_t stored) {
    if (stored < minimumIdleSeconds || stored > std::numeric_limits<int>::max()) {
        return fallbackIdleSeconds;
    }
    return int(stored);
}

std::vector<std::string> sortedByCodePoints(std::vector<std::string> names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& name : names) {
        keyed.emplace_back(platform::text::composed(name), std::move(name));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> sorted;
    sorted.reserve(keyed.size());
    for (auto& entry : keyed) {
        sorted.push_back(std::move(entry.second));
    }
    return sorted;
}

} // namespace

std::string countLabelText(const std::string& count) {
    return "\u24D8 Brimlow moved your mouse " + count + " times so far!";
}

MainVC::MainVC(const platform::Desktop& desktop, platform::MainInterface& interface)
    : idleDurationLabel(&interface.idleDurationLabel()), idleStepper(&interface.idleStepper()),
      hideIconCheckBox(&interface.hideIconCheckBox()), mnu(&interface.mnu()),
      exclaimBtn(&interface.exclaimBtn()), appRunningCombo(&interface.appRunningCombo()),
      movedLbl(&interface.movedLbl()), icon(desktop.images.imageNamed("trayicon")),
      icon_green(desktop.images.imageNamed("trayicon_green")),
      icon_bw(desktop.images.imageNamed("trayicon_bw")), desktop_(desktop),
      window_(&interface.window()) {
    window_->setController(this);
}

MainVC::~MainVC() {
    window_->setController(nullptr);
    if (mainVC == this) {
        mainVC = nullptr;
    }
}

void MainVC::viewDidLoad() {
    mainVC = this;
    idleStepper->setIntValue(
        seedIdleSeconds(desktop_.preferences.integerForKey(keys::idleSeconds)));
    applyIdleDuration(*idleStepper);
    hideIconCheckBox->setState(desktop_.preferences.integerForKey(keys::hideIcon) == 1 ? 1 : 0);
    applyHideIcon(*hideIconCheckBox);
    movedLbl->setStringValue(
        countLabelText(std::to_string(desktop_.preferences.integerForKey(keys::movedCount))));
    viewWillAppear();
}

void MainVC::stepperChanged(platform::Stepper& sender) {
    applyIdleDuration(sender);
}

void MainVC::hideIconChecked(platform::CheckBox& sender) {
    applyHideIcon(sender);
}

void MainVC::appRunningComboEdited(platform::ComboBox&) {
    saveAppRunning();
}

void MainVC::showprefWindow() {
    window_->makeKeyAndOrderFront();
    desktop_.application.activateIgnoringOtherApps();
}

void MainVC::exclaimBtnPressed() {
    if (sharedDelegate != nullptr) {
        sharedDelegate->checkAccessibility();
    }
}

void MainVC::viewWillAppear() {
    desktop_.application.setActivationPolicy(platform::ActivationPolicy::regular);
    refreshAppList();
    restoreAppRunning();
    window_->makeFirstResponder(*idleStepper);
}

void MainVC::viewWillDisappear() {
    saveAppRunning();
}

void MainVC::viewDidDisappear() {
    desktop_.application.setActivationPolicy(platform::ActivationPolicy::accessory);
}

void MainVC::applyIdleDuration(platform::Stepper& sender) {
    desktop_.preferences.setInteger(keys::idleSeconds, sender.intValue());
    idleDurationLabel->setStringValue(idleStepper->stringValue() + " seconds");
}

void MainVC::applyHideIcon(platform::CheckBox& checkBox) {
    desktop_.preferences.setInteger(keys::hideIcon, checkBox.state());
    if (desktop_.preferences.integerForKey(keys::hideIcon) == 1) {
        hideIcon();
    } else {
        showIcon();
    }
}

void MainVC::showIcon() {
    systemMenu = desktop_.statusBar.addItem();
    systemMenu->setImage(icon);
    systemMenu->setToolTip("Brimlow");
    systemMenu->setMenu(*mnu);
}

void MainVC::hideIcon() {
    systemMenu.reset();
}

// Only applications with a window of their own are offered; others can still be typed in.
void MainVC::refreshAppList() {
    std::vector<std::string> names;
    for (const auto& app : desktop_.workspace.runningApplications()) {
        auto name = app.executableFileName();
        if (app.activationPolicy == platform::ActivationPolicy::regular && name) {
            names.push_back(std::move(*name));
        }
    }
    appRunningCombo->removeAllItems();
    appRunningCombo->addItems(sortedByCodePoints(std::move(names)));
}

// A name ending in ".app" names a bundle, not an executable, so it could never match; the
// user sees an empty field instead.
void MainVC::restoreAppRunning() {
    std::string stored = desktop_.preferences.stringForKey(keys::appRunning).value_or("");
    if (stored.ends_with(".app")) {
        stored.clear();
    }
    appRunningCombo->setStringValue(stored);
}

void MainVC::saveAppRunning() {
    desktop_.console.printLine("appRunningComboEdited");
    desktop_.preferences.setString(keys::appRunning, appRunningCombo->stringValue());
}

} // namespace brimlow
