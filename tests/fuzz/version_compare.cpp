// Versions from the server against the installed one: any texts, valid UTF-8 or not. The order
// must be a strict order: never both ways, never an equal text before itself.
#include "app/server/UpdateCheck.h"
#include "platform/Text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Three texts, split at NUL bytes.
    std::string parts[3];
    for (std::size_t at = 0, part = 0; at < input.size(); ++at) {
        if (input[at] == '\0' && part < 2) {
            ++part;
        } else {
            parts[part] += input[at];
        }
    }
    namespace text = brimlow::platform::text;
    if ((text::sortsBefore(parts[0], parts[1]) && text::sortsBefore(parts[1], parts[0])) ||
        text::sortsBefore(parts[0], parts[0])) {
        std::abort();
    }
    brimlow::RemoteConfig config;
    config.minimumVersion = parts[1];
    config.latestVersion = parts[2];
    brimlow::updateNotice(parts[0], config);
    return 0;
}
