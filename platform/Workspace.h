#pragma once

#include "Application.h"

#include <optional>
#include <string>
#include <vector>

namespace brimlow::platform {

struct RunningApplication {
    // Absolute path of the executable file; nothing when it can't be read.
    std::optional<std::string> executablePath;
    std::optional<std::string> bundleIdentifier;
    // Regular when the application owns a normal top-level window.
    ActivationPolicy activationPolicy = ActivationPolicy::accessory;

    // The file name of the executable, the last component of its path.
    std::optional<std::string> executableFileName() const {
        if (!executablePath) {
            return std::nullopt;
        }
        return executablePath->substr(executablePath->rfind('/') + 1);
    }
};

// The applications the user runs.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Every application the current user runs, foreground or background, in a stable order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Starts the executable at `path` as the desktop starts a program: on its own, so it outlives
    // the caller. False, with one diagnostic line, when it could not be started.
    virtual bool launchApplication(const std::string& path) = 0;
};

} // namespace brimlow::platform
