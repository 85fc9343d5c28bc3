// What names the host and the user to the server: /etc/machine-info's pretty host name, the
// kernel's release, and the identity filtered from the login and computer names.
#include "app/server/ClientIdentity.h"
#include "platform/linux/base/LinuxHostIdentity.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brimlow::platform::linuxdesktop;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string pretty = prettyHostNameIn(input);
    const brimlow::platform::OsVersion version = osVersionOfRelease(input);
    if (version.major < 0 || version.minor < 0) {
        std::abort();
    }
    const std::string identity = brimlow::filteredIdentity(input, pretty);
    for (char c : identity) {
        if (c == '&' || c == '=' || c == '%' || c == '\n') {
            std::abort();
        }
    }
    brimlow::osVersionText(version);
    return 0;
}
