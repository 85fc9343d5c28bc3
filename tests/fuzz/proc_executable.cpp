// What /proc says of a process, as the workspace and the idle check read it: the text of its exe
// link (deleted, " (deleted)", not UTF-8, long), the file name and bundle found from it, and the
// comparison of that name with what the user typed.
#include "platform/Text.h"
#include "platform/Workspace.h"
#include "platform/linux/base/PlistBundleInfo.h"
#include "platform/linux/base/ProcWorkspace.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brimlow::platform;
    const std::string_view link(reinterpret_cast<const char*>(data), size);
    RunningApplication application;
    application.executablePath = linuxdesktop::executableOfLink(link);
    if (!application.executablePath) {
        return 0;
    }
    if (auto bundle = linuxdesktop::bundleOfExecutable(*application.executablePath);
        bundle && !application.executablePath->starts_with(*bundle)) {
        std::abort();
    }
    const auto name = application.executableFileName();
    if (!name || name->find('/') != std::string::npos) {
        std::abort();
    }
    const std::string typed = text::composed(text::trimmedOfWhitespaceAndNewlines(*name));
    text::canonicallyEqual(text::composed(*name), typed);
    return 0;
}
