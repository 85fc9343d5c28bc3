// The server's configuration reply: the scrambled Base64 text and its four lines. What decodes
// must encode back to the same reply's text.
#include "app/server/RemoteConfig.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string text = brimlow::unscrambledConfigText(reply);
    if (brimlow::unscrambledConfigText(brimlow::scrambledConfigText(text)) != text) {
        std::abort();
    }
    if (auto config = brimlow::parsedConfigText(text)) {
        const std::string lines = config->header + "\n" + config->setting + "\n" +
                                  config->minimumVersion + "\n" + config->latestVersion;
        if (brimlow::parsedConfigText(lines) != config) {
            std::abort();
        }
    }
    return 0;
}
