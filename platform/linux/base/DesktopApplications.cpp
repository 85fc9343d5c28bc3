#include "DesktopApplications.h"

#include "DesktopEntry.h"
#include "Files.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t largestEntry = 256 * 1024;

std::string environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ':');) {
        // Relative entries are to be ignored, as the base-directory rules say.
        if (!item.empty() && item.front() == '/') {
            items.push_back(item);
        }
    }
    return items;
}

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders;
    folders.emplace_back(fs::path(xdgBaseDirectory("XDG_DATA_HOME", ".local/share")) /
                         "applications");
    for (const std::string& data :
         xdgBaseDirectories("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
        folders.emplace_back(fs::path(data) / "applications");
    }
    return folders;
}

// The program as /proc will name it: found on PATH if it is a bare name, links resolved.
std::optional<std::string> resolvedProgram(const std::string& program) {
    std::vector<fs::path> candidates;
    if (program.find('/') != std::string::npos) {
        candidates.emplace_back(program);
    } else {
        for (const std::string& folder :
             split(environment("PATH", "/usr/local/bin:/usr/bin:/bin"))) {
            candidates.emplace_back(fs::path(folder) / program);
        }
    }
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        fs::path resolved = fs::canonical(candidate, error);
        if (!error && access(resolved.c_str(), X_OK) == 0 && fs::is_regular_file(resolved, error)) {
            return resolved.string();
        }
    }
    return std::nullopt;
}

void addPrograms(const fs::path& entryFile, std::set<std::string>& executables) {
    std::optional<std::string> text = readSmallFile(entryFile.string(), largestEntry);
    auto keys = text ? desktopEntryKeys(*text) : std::nullopt;
    if (!keys || (*keys)["Type"] != "Application" || (*keys)["Hidden"] == "true") {
        return;
    }
    auto arguments = execArguments((*keys)["Exec"]);
    for (const std::string& program :
         {arguments && !arguments->empty() ? arguments->front() : "", (*keys)["TryExec"]}) {
        if (auto resolved = program.empty() ? std::nullopt : resolvedProgram(program)) {
            executables.insert(*resolved);
        }
    }
}

} // namespace

DesktopApplications::DesktopApplications() : folders_(applicationFolders()) {}

void DesktopApplications::refresh() {
    std::map<fs::path, fs::file_time_type> now;
    for (const fs::path& folder : folders_) {
        std::error_code error;
        auto changed = fs::last_write_time(folder, error);
        if (!error) {
            now[folder] = changed;
        }
    }
    if (now == seen_) {
        return;
    }
    seen_ = std::move(now);
    executables_.clear();
    for (const auto& [folder, changed] : seen_) {
        std::error_code error;
        for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            if (entry->path().extension() == ".desktop") {
                addPrograms(entry->path(), executables_);
            }
        }
    }
}

bool DesktopApplications::isRegular(int, const std::optional<std::string>& executable) {
    return executable && executables_.contains(*executable);
}

} // namespace brimlow::platform::linuxdesktop
