#include "LinuxHostIdentity.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace brimlow::platform::linuxdesktop {
namespace {

// A value of /etc/machine-info may be quoted in shell style.
std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
        }
        out += value[i];
    }
    return out;
}

// A number of digits at the start of `text`, and the rest; 0 when there is none or it does not
// fit.
int leadingNumber(std::string_view& text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    text.remove_prefix(std::size_t(end - text.data()));
    return error == std::errc() && value <= unsigned(std::numeric_limits<int>::max()) ? int(value)
                                                                                      : 0;
}

} // namespace

std::string prettyHostNameIn(std::string_view machineInfo) {
    const std::string_view key = "PRETTY_HOSTNAME=";
    while (!machineInfo.empty()) {
        std::string_view line = machineInfo.substr(0, machineInfo.find('\n'));
        machineInfo.remove_prefix(std::min(machineInfo.size(), line.size() + 1));
        if (line.starts_with(key)) {
            return unquoted(std::string(line.substr(key.size())));
        }
    }
    return {};
}

OsVersion osVersionOfRelease(std::string_view release) {
    OsVersion version;
    version.major = leadingNumber(release);
    if (release.starts_with('.')) {
        release.remove_prefix(1);
        version.minor = leadingNumber(release);
    }
    return version;
}

// A user without an entry in the password database (a bare container) is named by number.
std::string LinuxHostIdentity::loginName() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? std::size_t(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int error;
    // The suggested size is only a hint; an entry from a network directory can be larger.
    while ((error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (error == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(getuid());
}

std::string LinuxHostIdentity::computerName() {
    std::ifstream info("/etc/machine-info");
    const std::string text((std::istreambuf_iterator<char>(info)),
                           std::istreambuf_iterator<char>());
    if (std::string pretty = prettyHostNameIn(text); !pretty.empty()) {
        return pretty;
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

OsVersion LinuxHostIdentity::osVersion() {
    utsname system{};
    return uname(&system) == 0 ? osVersionOfRelease(system.release) : OsVersion{};
}

} // namespace brimlow::platform::linuxdesktop
