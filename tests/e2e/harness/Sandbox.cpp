#include "Sandbox.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace brimlow::e2e {
namespace {

std::string trimmed(const std::string& text) {
    const char* space = " \t\r";
    auto first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

} // namespace

SessionBus::SessionBus(const Environment& env) {
    SpawnOptions options;
    options.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3"};
    options.env = env;
    options.handshakeFd = 3;
    options.discardStderr = true;
    daemon_ = std::make_unique<Child>(options);
    auto address = daemon_->readHandshake(10s);
    if (!address || address->empty()) {
        throw std::runtime_error("dbus-daemon did not report its address");
    }
    address_ = *address;
}

Sandbox::Sandbox(const std::string& displayName) : displayName_(displayName) {
    bus_ = std::make_unique<SessionBus>(baseEnvironment());
}

Environment Sandbox::baseEnvironment() const {
    Environment env = Environment::inherited();
    env.set("DISPLAY", displayName_);
    env.set("HOME", dir_.subdir("home").string());
    env.set("XDG_CONFIG_HOME", dir_.subdir("config").string());
    env.set("XDG_CACHE_HOME", dir_.subdir("cache").string());
    env.set("XDG_DATA_HOME", dir_.subdir("data").string());
    // Where the program keeps the portal's restore token: shared, one test's grant would answer
    // the next test's request without a dialog.
    env.set("XDG_STATE_HOME", dir_.subdir("state").string());
    env.set("XDG_RUNTIME_DIR", dir_.subdir("runtime").string());
    // The program must face the X server, whatever other tests of the run choose for Qt.
    env.set("QT_QPA_PLATFORM", "xcb");
    env.unset("DBUS_SESSION_BUS_ADDRESS");
    env.unset("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    return env;
}

Environment Sandbox::environment() const {
    Environment env = baseEnvironment();
    env.set("DBUS_SESSION_BUS_ADDRESS", bus_->address());
    return env;
}

std::filesystem::path Sandbox::preferencesFile() const {
    return dir_.path() / "config" / "pellvane" / "Brimlow2.conf";
}

void Sandbox::writePreferences(const Preferences& preferences) const {
    std::filesystem::create_directories(preferencesFile().parent_path());
    std::ofstream out(preferencesFile());
    out << "[General]\n";
    for (const auto& [key, value] : preferences) {
        out << key << "=" << value << "\n";
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + preferencesFile().string());
    }
}

void Sandbox::installDesktopEntry() const {
    const auto file = dir_.path() / "data" / "applications" / "com.pellvane.Brimlow2.desktop";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file);
    // Quoted, since the program's path has a space.
    out << "[Desktop Entry]\nType=Application\nName=Brimlow\nExec=\"" << programPath().string()
        << "\"\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

Preferences Sandbox::readPreferences() const {
    Preferences found;
    std::ifstream in(preferencesFile());
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        auto eq = line.find('=');
        if (section == "General" && eq != std::string::npos) {
            found[trimmed(line.substr(0, eq))] = trimmed(line.substr(eq + 1));
        }
    }
    return found;
}

std::filesystem::path programPath() {
    // Another build of the program (an installed one, say) can stand in for this build's.
    if (const char* other = std::getenv("BRIMLOW_E2E_PROGRAM");
        other != nullptr && *other != '\0') {
        return other;
    }
#ifdef BRIMLOW_PROGRAM
    return BRIMLOW_PROGRAM;
#else
    throw std::logic_error("built without BRIMLOW_PROGRAM");
#endif
}

std::unique_ptr<Child> startProgram(const Environment& env, const std::vector<std::string>& args) {
    SpawnOptions options;
    options.argv = {programPath().string()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env;
    options.captureStdout = true;
    options.stderrToStdout = true;
    return std::make_unique<Child>(options);
}

} // namespace brimlow::e2e
