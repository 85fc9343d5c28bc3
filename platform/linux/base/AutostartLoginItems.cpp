#include "AutostartLoginItems.h"

#include "DesktopEntry.h"
#include "Files.h"
#include "PlistBundleInfo.h"

#include <filesystem>
#include <optional>

namespace brimlow::platform::linuxdesktop {
namespace {

namespace fs = std::filesystem;

// An autostart entry is a few hundred bytes; anything far larger is not one of ours.
constexpr std::uintmax_t largestEntry = 64 * 1024;

// The helper's executable, by the identifier in its bundle's Info.plist.
std::optional<std::string> helperExecutable(const std::string& bundlePath,
                                            const std::string& identifier) {
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator(bundlePath + "/Contents/Library/LoginItems", error)) {
        const fs::path helper = entry.path();
        auto values = plistStrings((helper / "Contents/Info.plist").string());
        if (helper.extension() == ".app" && values["CFBundleIdentifier"] == identifier &&
            !values["CFBundleExecutable"].empty()) {
            return (helper / "Contents/MacOS" / values["CFBundleExecutable"]).string();
        }
    }
    return std::nullopt;
}

std::optional<std::map<std::string, std::string>> readEntry(const fs::path& path) {
    std::optional<std::string> text = readSmallFile(path.string(), largestEntry);
    return text ? desktopEntryKeys(*text) : std::nullopt;
}

bool runs(const std::map<std::string, std::string>& entry, const std::string& executable) {
    auto exec = entry.find("Exec");
    return exec != entry.end() &&
           execArguments(exec->second) == std::vector<std::string>{executable};
}

// What the user set to keep an entry from starting, as the desktops write it.
std::string turnedOffKeys(const std::optional<std::map<std::string, std::string>>& entry) {
    std::string keys;
    if (!entry) {
        return keys;
    }
    if (auto hidden = entry->find("Hidden"); hidden != entry->end() && hidden->second == "true") {
        keys += "Hidden=true\n";
    }
    if (auto enabled = entry->find("X-GNOME-Autostart-enabled");
        enabled != entry->end() && enabled->second == "false") {
        keys += "X-GNOME-Autostart-enabled=false\n";
    }
    return keys;
}

} // namespace

std::string autostartDirectory() {
    return xdgBaseDirectory("XDG_CONFIG_HOME", ".config") + "/autostart";
}

std::vector<std::string> systemAutostartDirectories() {
    std::vector<std::string> folders;
    for (const std::string& folder : xdgBaseDirectories("XDG_CONFIG_DIRS", "/etc/xdg")) {
        folders.push_back(folder + "/autostart");
    }
    return folders;
}

AutostartLoginItems::AutostartLoginItems(std::string bundlePath, std::string autostartDirectory,
                                         std::string name, std::string icon,
                                         std::vector<std::string> systemDirectories)
    : bundlePath_(std::move(bundlePath)), autostartDirectory_(std::move(autostartDirectory)),
      name_(std::move(name)), icon_(std::move(icon)),
      systemDirectories_(std::move(systemDirectories)) {}

LoginItemResult AutostartLoginItems::enable(const std::string& helperBundleIdentifier) {
    std::optional<std::string> helper = helperExecutable(bundlePath_, helperBundleIdentifier);
    if (!helper) {
        return {false, "No login item " + helperBundleIdentifier + " in " + bundlePath_ +
                           "/Contents/Library/LoginItems"};
    }
    const fs::path entryPath =
        fs::path(autostartDirectory_) / (helperBundleIdentifier + ".desktop");
    const auto existing = readEntry(entryPath);
    if (existing && runs(*existing, *helper)) {
        return {true, ""};
    }
    // The user's own entry decides; without one, the system's entry of that name does.
    auto choice = existing;
    for (auto folder = systemDirectories_.begin(); !choice && folder != systemDirectories_.end();
         ++folder) {
        choice = readEntry(fs::path(*folder) / (helperBundleIdentifier + ".desktop"));
    }
    std::optional<std::string> exec = execValue({*helper});
    std::optional<std::string> tryExec = stringValue(*helper);
    if (!exec || !tryExec) {
        return {false,
                "Cannot start " + *helper + " at login: a desktop entry cannot hold its path"};
    }
    std::string entry = "[Desktop Entry]\nType=Application\n";
    entry += "Name=" + name_ + "\n";
    entry += "Comment=Starts " + name_ + " when you log in\n";
    // Once the helper is gone (the program removed), desktops pass over the entry quietly.
    entry += "TryExec=" + *tryExec + "\n";
    entry += "Exec=" + *exec + "\n";
    entry += "Icon=" + icon_ + "\nTerminal=false\n";
    entry += turnedOffKeys(choice);
    if (std::string failure = replaceFileAtomically(entryPath.string(), entry); !failure.empty()) {
        return {false, "Cannot write the autostart entry: " + failure};
    }
    return {true, ""};
}

} // namespace brimlow::platform::linuxdesktop
