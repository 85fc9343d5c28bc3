#pragma once

#include "platform/BundleInfo.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brimlow::platform::linuxdesktop {

// The top-level string values of a property list file (`<key>` followed by `<string>`); empty
// when the file is missing, larger than a property list of ours could be, or not a well-formed
// property list.
std::map<std::string, std::string> plistStrings(const std::string& path);
// The same for the text of such a file.
std::map<std::string, std::string> plistStringsIn(std::string_view text);

// The bundle an executable sits in: <bundle>/Contents/MacOS/<name>; nothing for any other path.
std::optional<std::string> bundleOfExecutable(const std::string& executable);

// The bundle that holds the running executable; empty when there is none.
std::string runningBundlePath();

// Reads <bundle>/Contents/Info.plist once: it does not change while the program runs.
class PlistBundleInfo final : public BundleInfo {
public:
    explicit PlistBundleInfo(const std::string& bundlePath);

    std::string bundlePath() override { return bundlePath_; }
    std::string shortVersion() override { return value("CFBundleShortVersionString"); }
    std::string identifier() override { return value("CFBundleIdentifier"); }
    // "CFBundleName"; empty when missing.
    std::string name() const { return value("CFBundleName"); }

private:
    std::string value(const std::string& key) const;

    std::string bundlePath_;
    std::map<std::string, std::string> values_;
};

} // namespace brimlow::platform::linuxdesktop
