#include "ProcWorkspace.h"

#include "DetachedLaunch.h"
#include "PlistBundleInfo.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

std::optional<int> processId(const char* name) {
    int pid = 0;
    const char* end = name + std::strlen(name);
    auto [stop, error] = std::from_chars(name, end, pid);
    if (error != std::errc() || stop != end || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

std::optional<std::string> executablePath(int procFd, int pid) {
    char link[32];
    std::snprintf(link, sizeof link, "%d/exe", pid);
    char target[PATH_MAX + 1];
    ssize_t length = readlinkat(procFd, link, target, sizeof target);
    // A full buffer may be a cut-off path: no answer is better than a wrong one.
    if (length <= 0 || std::size_t(length) == sizeof target) {
        return std::nullopt;
    }
    return executableOfLink(std::string_view(target, std::size_t(length)));
}

std::optional<std::string> bundleIdentifier(const std::string& executable) {
    std::optional<std::string> bundle = bundleOfExecutable(executable);
    if (!bundle) {
        return std::nullopt;
    }
    auto values = plistStrings(*bundle + "/Contents/Info.plist");
    auto found = values.find("CFBundleIdentifier");
    if (found == values.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace

// The kernel marks an executable replaced or removed since the process started.
std::optional<std::string> executableOfLink(std::string_view link) {
    constexpr std::string_view deleted = " (deleted)";
    if (link.ends_with(deleted)) {
        link.remove_suffix(deleted.size());
    }
    if (link.empty() || link.front() != '/') {
        return std::nullopt;
    }
    return std::string(link);
}

std::vector<RunningApplication> ProcWorkspace::runningApplications() {
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (proc == nullptr) {
        return {};
    }
    const int procFd = dirfd(proc.get());
    const uid_t user = getuid();
    std::vector<int> pids;
    while (const dirent* entry = readdir(proc.get())) {
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        std::optional<int> pid = processId(entry->d_name);
        struct stat status {};
        // A process that ended since the directory was read is simply not there.
        if (pid && fstatat(procFd, entry->d_name, &status, 0) == 0 && status.st_uid == user) {
            pids.push_back(*pid);
        }
    }
    std::sort(pids.begin(), pids.end());

    if (windows_ != nullptr) {
        windows_->refresh();
    }
    std::vector<RunningApplication> applications;
    applications.reserve(pids.size());
    for (int pid : pids) {
        RunningApplication application;
        application.executablePath = executablePath(procFd, pid);
        if (application.executablePath) {
            application.bundleIdentifier = bundleIdentifier(*application.executablePath);
        }
        application.activationPolicy =
            windows_ != nullptr && windows_->isRegular(pid, application.executablePath)
                ? ActivationPolicy::regular
                : ActivationPolicy::accessory;
        applications.push_back(std::move(application));
    }
    return applications;
}

bool ProcWorkspace::launchApplication(const std::string& path) {
    if (int error = launchDetached(path); error != 0) {
        console_.printLine("Cannot start " + path + ": " + std::strerror(error));
        return false;
    }
    return true;
}

} // namespace brimlow::platform::linuxdesktop
