#pragma once

#include "platform/Console.h"
#include "platform/PreferenceStore.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// $XDG_CONFIG_HOME/pellvane/Brimlow2.conf, with ~/.config when XDG_CONFIG_HOME is unset, empty
// or relative (XDG base directories must be absolute; a relative one is ignored).
std::string preferencesFilePath();
// The system-wide defaults an administrator may give: pellvane/Brimlow2.conf under each folder of
// $XDG_CONFIG_DIRS (/etc/xdg when unset or empty), the most important first.
std::vector<std::string> systemPreferencesFilePaths();

// An INI file through QSettings, values at top level. Each read first takes in what another
// program wrote since the last access; each write goes straight to disk through a temporary
// file that replaces the old one (a crash leaves the old file or the new, never half of one).
//
// A path that is a symbolic link (a dotfile manager's) is followed: the file it points at is
// read and replaced, in that file's own folder, and the link stays a link. A path that leads to
// anything but a regular file (a device such as /dev/null, a FIFO, a socket, a folder) is never
// opened: the values live in memory for the rest of the run, and one line says so.
//
// A file QSettings cannot parse is renamed aside to <file>.corrupt-<local date>-<time>, never
// over an earlier one, and the store starts empty: QSettings would otherwise write the part it
// understood over it at the next write. A location that cannot be read or written leaves the
// values in memory for this run; one line says so per spell of failures.
//
// The system files' values are the defaults under the user's file, key by key: a key the user's
// file lacks reads as the first system file that has it. They are read once, at construction,
// and never written. One that is not a regular file, cannot be read or cannot be parsed is
// skipped with one line.
//
// QSettings notices another program's change by the file's size and its modification time to
// the millisecond: a change that keeps the size within the same kernel clock tick as our last
// access to the file goes unseen until the file changes again.
class SettingsPreferenceStore final : public PreferenceStore {
public:
    SettingsPreferenceStore(std::string path, Console& console,
                            const std::vector<std::string>& systemPaths = {});
    ~SettingsPreferenceStore() override;
    SettingsPreferenceStore(const SettingsPreferenceStore&) = delete;
    SettingsPreferenceStore& operator=(const SettingsPreferenceStore&) = delete;

    std::int64_t integerForKey(const std::string& key) override;
    void setInteger(const std::string& key, std::int64_t value) override;
    std::optional<std::string> stringForKey(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brimlow::platform::linuxdesktop
