#pragma once

#include "platform/Console.h"
#include "platform/Workspace.h"

#include <optional>
#include <string>
#include <string_view>

namespace brimlow::platform::linuxdesktop {

// The executable a process runs, from the text of its /proc/PID/exe link: the path, without the
// mark the kernel adds once the file was replaced or removed; nothing for a link that names no
// absolute path (a kernel thread's, or an anonymous file's).
std::optional<std::string> executableOfLink(std::string_view link);

// Which of the user's processes are applications with windows of their own, as the session can
// tell (an X server's window list, the desktop's installed applications).
class ApplicationWindows {
public:
    virtual ~ApplicationWindows() = default;
    // Called at the start of every walk of the processes.
    virtual void refresh() = 0;
    virtual bool isRegular(int pid, const std::optional<std::string>& executable) = 0;
};

// The user's processes from /proc, in ascending process id order, each with the identifier of
// the bundle its executable sits in. An application is regular as `windows` says; without it
// every application is accessory. Runs every idle tick while the user has named an application,
// so it asks the kernel two questions per process.
class ProcWorkspace final : public Workspace {
public:
    explicit ProcWorkspace(Console& console, ApplicationWindows* windows = nullptr)
        : console_(console), windows_(windows) {}

    std::vector<RunningApplication> runningApplications() override;
    bool launchApplication(const std::string& path) override;

private:
    Console& console_;
    ApplicationWindows* windows_;
};

} // namespace brimlow::platform::linuxdesktop
