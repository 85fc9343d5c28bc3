#include "PlistBundleInfo.h"

#include "Files.h"

#include <expat.h>
#include <filesystem>

namespace brimlow::platform::linuxdesktop {
namespace {

namespace fs = std::filesystem;

// Far more than any Info.plist; a file this large is not worth reading every idle tick.
constexpr std::uintmax_t largestPlist = 1024 * 1024;

// Only <plist><dict> ... </dict></plist> with string values is read: nested dictionaries and
// other value types are skipped whole, so their keys never shadow a top-level one.
class PlistReader {
public:
    explicit PlistReader(XML_Parser parser) : parser_(parser) {}

    std::map<std::string, std::string> values;
    bool wellFormed = true;

    void refuseEntities() {
        wellFormed = false;
        XML_StopParser(parser_, XML_FALSE);
    }

    void start(std::string_view element) {
        ++depth_;
        if ((depth_ == 1 && element != "plist") || (depth_ == 2 && element != "dict")) {
            wellFormed = false;
        }
        if (depth_ == 3) {
            text_.clear();
        }
    }

    void end(std::string_view element) {
        if (depth_-- != 3) {
            return;
        }
        if (element == "key") {
            key_ = text_;
        } else if (element == "string" && key_) {
            values[*key_] = text_;
        }
        if (element != "key") {
            key_.reset();
        }
    }

    void text(std::string_view characters) {
        if (depth_ == 3) {
            text_ += characters;
        }
    }

private:
    XML_Parser parser_;
    int depth_ = 0;
    std::string text_;
    std::optional<std::string> key_;
};

} // namespace

// The parser never fetches the DTD a file names, and stops at any entity declaration: no
// property list needs one, and entities are how XML is made to expand without end.
std::map<std::string, std::string> plistStrings(const std::string& path) {
    std::optional<std::string> text = readSmallFile(path, largestPlist);
    return text ? plistStringsIn(*text) : std::map<std::string, std::string>{};
}

std::map<std::string, std::string> plistStringsIn(std::string_view text) {
    if (text.size() > largestPlist) {
        return {};
    }
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (parser == nullptr) {
        return {};
    }
    PlistReader reader(parser);
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char**) {
            static_cast<PlistReader*>(data)->start(name);
        },
        [](void* data, const XML_Char* name) { static_cast<PlistReader*>(data)->end(name); });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* characters, int length) {
        static_cast<PlistReader*>(data)->text(std::string_view(characters, std::size_t(length)));
    });
    XML_SetEntityDeclHandler(
        parser, [](void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                   const XML_Char*, const XML_Char*,
                   const XML_Char*) { static_cast<PlistReader*>(data)->refuseEntities(); });
    const bool parsed = XML_Parse(parser, text.data(), int(text.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!parsed || !reader.wellFormed) {
        return {};
    }
    return reader.values;
}

std::optional<std::string> bundleOfExecutable(const std::string& executable) {
    const fs::path macOS = fs::path(executable).parent_path();
    const fs::path contents = macOS.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents" ||
        !contents.has_parent_path() || contents.parent_path() == contents.root_path()) {
        return std::nullopt;
    }
    return contents.parent_path().string();
}

std::string runningBundlePath() {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return bundleOfExecutable(executable.string()).value_or("");
}

PlistBundleInfo::PlistBundleInfo(const std::string& bundlePath)
    : bundlePath_(bundlePath), values_(plistStrings(bundlePath + "/Contents/Info.plist")) {}

std::string PlistBundleInfo::value(const std::string& key) const {
    auto found = values_.find(key);
    return found == values_.end() ? std::string() : found->second;
}

} // namespace brimlow::platform::linuxdesktop
