#pragma once

#include <string>

namespace brimlow::platform {

struct OsVersion {
    int major = 0;
    int minor = 0;
};

// Who and where the program runs.
class HostIdentity {
public:
    virtual ~HostIdentity() = default;
    virtual std::string loginName() = 0;
    // The name the user gave the computer.
    virtual std::string computerName() = 0;
    virtual OsVersion osVersion() = 0;
};

} // namespace brimlow::platform
