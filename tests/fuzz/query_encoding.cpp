// The query of a usage event: every character but letters, marks and numbers percent-encoded.
// Decoding it must give back the text, and nothing a URL gives meaning to may stay bare.
#include "app/server/EventReporting.h"
#include "platform/Text.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string decoded(const std::string& encoded) {
    std::string text;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            text += encoded[i];
            continue;
        }
        if (i + 2 >= encoded.size() || !std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(encoded[i + 2]))) {
            std::abort();
        }
        text += char(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace text = brimlow::platform::text;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string encoded = text::percentEncodedExceptAlphanumerics(input);
    for (char c : encoded) {
        if (std::string_view("&=?#+/ \"<>\r\n").find(c) != std::string_view::npos) {
            std::abort();
        }
    }
    if (text::isWellFormedUtf8(input) && decoded(encoded) != input) {
        std::abort();
    }
    brimlow::eventQuery(input, input, input, {input, input, input}, 123456789);
    return 0;
}
