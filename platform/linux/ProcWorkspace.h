#pragma once

#include "X11Session.h"
#include "platform/Workspace.h"

namespace brimlow::platform::linuxdesktop {

// The user's processes from /proc, in ascending process id order; an application is regular
// when its process owns a normal top-level window on the X display. Runs every idle tick while
// the user has named an application, so it asks the kernel two questions per process and the X
// server two per walk.
class ProcWorkspace final : public Workspace {
public:
    explicit ProcWorkspace(X11Session& session) : session_(session) {}

    std::vector<RunningApplication> runningApplications() override;

private:
    X11Session& session_;
};

} // namespace brimlow::platform::linuxdesktop
