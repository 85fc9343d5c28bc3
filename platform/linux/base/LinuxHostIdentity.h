#pragma once

#include "platform/HostIdentity.h"

namespace brimlow::platform::linuxdesktop {

// The login name from the password database, the pretty host name the user set (falling back
// to the host name) and the kernel release.
class LinuxHostIdentity final : public HostIdentity {
public:
    std::string loginName() override;
    std::string computerName() override;
    OsVersion osVersion() override;
};

} // namespace brimlow::platform::linuxdesktop
