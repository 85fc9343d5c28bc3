#include "LinuxHostIdentity.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
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

std::string prettyHostName() {
    std::ifstream info("/etc/machine-info");
    std::string line;
    const std::string key = "PRETTY_HOSTNAME=";
    while (std::getline(info, line)) {
        if (line.starts_with(key)) {
            return unquoted(line.substr(key.size()));
        }
    }
    return {};
}

} // namespace

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
    if (std::string pretty = prettyHostName(); !pretty.empty()) {
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
    OsVersion version;
    if (uname(&system) == 0) {
        std::sscanf(system.release, "%d.%d", &version.major, &version.minor);
    }
    return version;
}

} // namespace brimlow::platform::linuxdesktop
