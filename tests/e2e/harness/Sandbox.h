#pragma once

#include "Process.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::e2e {

// A D-Bus session bus of the test's own. Services it starts on demand (the accessibility bus
// launcher, for one) end when it ends, so nothing of theirs outlives the test either.
class SessionBus {
public:
    // `env` is what activated services inherit.
    explicit SessionBus(const Environment& env);
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<Child> daemon_;
    std::string address_;
};

// The keys of the program's preference file, as text.
using Preferences = std::map<std::string, std::string>;

// Everything one run of the program touches: a home, XDG directories and a session bus of its
// own, on a given X display.
class Sandbox {
public:
    explicit Sandbox(const std::string& displayName);

    const std::string& displayName() const { return displayName_; }
    const std::string& busAddress() const { return bus_->address(); }
    // What the program is started with.
    Environment environment() const;

    std::filesystem::path preferencesFile() const;
    // Writes the file as the program's preference store reads it ([General] section).
    void writePreferences(const Preferences& preferences) const;
    // What the file holds now; nothing for a missing file.
    Preferences readPreferences() const;
    // The program's desktop entry in the sandbox's data directory, as the package installs it
    // system-wide: what the desktop portal knows the program's application id by.
    void installDesktopEntry() const;

private:
    Environment baseEnvironment() const;

    TempDir dir_;
    std::string displayName_;
    std::unique_ptr<SessionBus> bus_;
};

// The program under test: as the build made it, or as BRIMLOW_E2E_PROGRAM names it.
std::filesystem::path programPath();

// Starts the program with its standard output and error captured, in order.
std::unique_ptr<Child> startProgram(const Environment& env,
                                    const std::vector<std::string>& args = {});

} // namespace brimlow::e2e
