#include "RemoteConfig.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace brimlow {
namespace {

constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view scrambledPadding = "fau";

std::string base64Encoded(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group = group << 8 | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= count ? base64Alphabet[group >> (18 - 6 * j) & 0x3F] : '=';
        }
    }
    return out;
}

// RFC 4648 with no tolerance: a length that is not a multiple of four, a character outside the
// alphabet or padding anywhere but at the end fails.
std::optional<std::string> base64Decoded(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    std::string_view digits = text.substr(0, text.size() - padding);
    std::string out;
    std::uint32_t group = 0;
    int bits = 0;
    for (char c : digits) {
        std::size_t value = base64Alphabet.find(c);
        if (value == std::string_view::npos) {
            return std::nullopt;
        }
        group = (group << 6 | std::uint32_t(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char(group >> bits & 0xFF);
        }
    }
    return out;
}

std::string reversedCharacters(std::string_view text) {
    std::vector<std::string> characters = platform::text::characters(text);
    std::string out;
    for (auto character = characters.rbegin(); character != characters.rend(); ++character) {
        out += *character;
    }
    return out;
}

} // namespace

std::string scrambledConfigText(std::string_view text) {
    std::string base64 = base64Encoded(reversedCharacters(text));
    std::string out;
    for (auto c = base64.rbegin(); c != base64.rend(); ++c) {
        if (*c == '=') {
            out += scrambledPadding;
        } else {
            out += *c;
        }
    }
    return out;
}

std::string unscrambledConfigText(std::string_view reply) {
    // Only the padding is written as "fau", and the reversal puts it at the start; a "fau"
    // further on is Base64 text and stays as it is.
    std::string base64;
    for (int i = 0; i < 2 && reply.starts_with(scrambledPadding); ++i) {
        base64 += '=';
        reply.remove_prefix(scrambledPadding.size());
    }
    base64 += reply;
    std::reverse(base64.begin(), base64.end());
    std::optional<std::string> bytes = base64Decoded(base64);
    if (!bytes || !platform::text::isWellFormedUtf8(*bytes)) {
        return {};
    }
    // Whole characters, so that a carriage return keeps its place before its line feed.
    return reversedCharacters(*bytes);
}

std::optional<RemoteConfig> parsedConfigText(std::string_view text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        std::size_t end = text.find('\n', start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (lines.size() != 4 || lines[0] != "config") {
        return std::nullopt;
    }
    return RemoteConfig{lines[0], lines[1], lines[2], lines[3]};
}

} // namespace brimlow
