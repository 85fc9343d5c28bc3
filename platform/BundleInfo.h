#pragma once

#include <string>

namespace brimlow::platform {

// Facts about the program's own bundle, read from its Info.plist.
class BundleInfo {
public:
    virtual ~BundleInfo() = default;
    // "CFBundleShortVersionString"; empty when missing.
    virtual std::string shortVersion() = 0;
    // "CFBundleIdentifier"; empty when missing.
    virtual std::string identifier() = 0;
};

} // namespace brimlow::platform
