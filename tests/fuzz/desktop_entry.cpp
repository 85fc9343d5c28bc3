// The autostart entry: any text is read without harm, and any arguments written as an Exec value
// read back as the same arguments.
#include "platform/linux/base/DesktopEntry.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brimlow::platform::linuxdesktop;
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (auto keys = desktopEntryKeys(input)) {
        execArguments((*keys)["Exec"]);
    }
    // The same bytes as arguments, split at NUL bytes.
    std::vector<std::string> arguments(1);
    for (char c : input) {
        if (c == '\0') {
            arguments.emplace_back();
        } else {
            arguments.back() += c;
        }
    }
    if (auto value = execValue(arguments)) {
        auto keys = desktopEntryKeys("[Desktop Entry]\nExec=" + *value + "\n");
        if (!keys || execArguments(keys->at("Exec")) != arguments) {
            std::abort();
        }
    }
    return 0;
}
