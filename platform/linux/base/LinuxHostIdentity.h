#pragma once

#include "platform/HostIdentity.h"

#include <string>
#include <string_view>

namespace brimlow::platform::linuxdesktop {

// PRETTY_HOSTNAME of an /etc/machine-info text, its shell quoting undone; empty when it has none.
std::string prettyHostNameIn(std::string_view machineInfo);

// Major and minor of a kernel release ("6.1.0-13-amd64" is 6.1); 0 for a part that is missing or
// does not fit.
OsVersion osVersionOfRelease(std::string_view release);

// The login name from the password database, the pretty host name the user set (falling back
// to the host name) and the kernel release.
class LinuxHostIdentity final : public HostIdentity {
public:
    std::string loginName() override;
    std::string computerName() override;
    OsVersion osVersion() override;
};

} // namespace brimlow::platform::linuxdesktop
