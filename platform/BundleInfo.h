#pragma once

#include <string>

namespace brimlow::platform {

// Facts about the program's own bundle, read from its Info.plist.
class BundleInfo {
public:
    virtual ~BundleInfo() = default;
    // The absolute path of the bundle's folder (the one that holds Contents); no trailing slash.
    virtual std::string bundlePath() = 0;
    // "CFBundleShortVersionString"; empty when missing.
    virtual std::string shortVersion() = 0;
    // "CFBundleIdentifier"; empty when missing.
    virtual std::string identifier() = 0;
};

} // namespace brimlow::platform
