// The property list of any bundle a process runs from: read for its identifier on every walk of
// the user's processes.
#include "platform/linux/base/PlistBundleInfo.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brimlow::platform::linuxdesktop::plistStringsIn(
        std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
