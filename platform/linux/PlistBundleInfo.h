#pragma once

#include "platform/BundleInfo.h"

#include <map>
#include <string>

namespace brimlow::platform::linuxdesktop {

// The top-level string values of a property list file (`<key>` followed by `<string>`); empty
// when the file is missing or not a well-formed property list.
std::map<std::string, std::string> plistStrings(const std::string& path);

// The bundle that holds the running executable: the program runs as
// <bundle>/Contents/MacOS/<name>, so the bundle is two levels above the executable's directory.
std::string runningBundlePath();

// Reads <bundle>/Contents/Info.plist once: it does not change while the program runs.
class PlistBundleInfo final : public BundleInfo {
public:
    explicit PlistBundleInfo(const std::string& bundlePath);

    std::string shortVersion() override { return value("CFBundleShortVersionString"); }
    std::string identifier() override { return value("CFBundleIdentifier"); }
    // "CFBundleName"; empty when missing.
    std::string name() const { return value("CFBundleName"); }

private:
    std::string value(const std::string& key) const;

    std::map<std::string, std::string> values_;
};

} // namespace brimlow::platform::linuxdesktop
