#pragma once

#include "platform/Console.h"
#include "platform/Workspace.h"

#include <functional>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// The user's processes from /proc, in ascending process id order, each with the identifier of
// the bundle its executable sits in. An application is regular when its process owns a normal
// top-level window, as the display server answers; without one every application is accessory.
// Runs every idle tick while the user has named an application, so it asks the kernel two
// questions per process and the display server one per walk.
class ProcWorkspace final : public Workspace {
public:
    // The ids of the processes that own a normal window, sorted.
    using WindowOwners = std::function<std::vector<int>()>;

    explicit ProcWorkspace(Console& console, WindowOwners windowOwners = {})
        : console_(console), windowOwners_(std::move(windowOwners)) {}

    std::vector<RunningApplication> runningApplications() override;
    bool launchApplication(const std::string& path) override;

private:
    Console& console_;
    WindowOwners windowOwners_;
};

} // namespace brimlow::platform::linuxdesktop
