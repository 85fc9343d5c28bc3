#pragma once

#include "ProcWorkspace.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// Where a session cannot list windows by their owners (Wayland), an application the user sees
// is a process whose executable an installed desktop entry starts: the Exec (or TryExec) program
// of the entries under $XDG_DATA_HOME and $XDG_DATA_DIRS, found on PATH and with links
// resolved, as /proc names it. Entries that are hidden or not applications are passed over. The
// folders are read again only when one of them changed. Main thread only.
class DesktopApplications final : public ApplicationWindows {
public:
    DesktopApplications();

    void refresh() override;
    bool isRegular(int pid, const std::optional<std::string>& executable) override;

private:
    std::vector<std::filesystem::path> folders_;
    std::map<std::filesystem::path, std::filesystem::file_time_type> seen_;
    std::set<std::string> executables_;
};

} // namespace brimlow::platform::linuxdesktop
