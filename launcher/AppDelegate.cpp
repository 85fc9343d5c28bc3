#include "AppDelegate.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace brimlow::launcher {
namespace {

const char* const mainBundleIdentifier = "com.pellvane.Brimlow2";
const char* const quitNotification = "killLauncher";
const char* const executableDirectory = "MacOS";
const char* const mainExecutableName = "Brimlow 2";
// The launcher's bundle folder, LoginItems and Library.
constexpr std::size_t componentsBelowContents = 3;

} // namespace

void AppDelegate::applicationDidFinishLaunching() {
    if (mainApplicationRuns()) {
        desktop_.application.terminate();
        return;
    }
    // Before the launch: Brimlow may post its quit notification as soon as it starts.
    quitObserver_ = desktop_.notifications.addObserver(quitNotification, mainBundleIdentifier,
                                                       [this] { terminate(); });
    std::optional<std::string> executable = mainExecutablePath(desktop_.bundle.bundlePath());
    if (!executable) {
        // Outside a bundle there is nothing to start and nobody to wait for.
        terminate();
        return;
    }
    desktop_.workspace.launchApplication(*executable);
}

void AppDelegate::terminate() {
    desktop_.application.terminate();
}

bool AppDelegate::mainApplicationRuns() {
    const auto applications = desktop_.workspace.runningApplications();
    return std::any_of(applications.begin(), applications.end(),
                       [](auto& app) { return app.bundleIdentifier == mainBundleIdentifier; });
}

std::optional<std::string> mainExecutablePath(const std::string& launcherBundlePath) {
    std::vector<std::filesystem::path> components;
    for (const auto& component : std::filesystem::path(launcherBundlePath)) {
        if (!component.empty()) {
            components.push_back(component);
        }
    }
    if (components.size() <= componentsBelowContents) {
        return std::nullopt;
    }
    components.resize(components.size() - componentsBelowContents);
    components.emplace_back(executableDirectory);
    components.emplace_back(mainExecutableName);

    std::filesystem::path joined;
    for (const auto& component : components) {
        joined /= component;
    }
    return joined.string();
}

} // namespace brimlow::launcher
