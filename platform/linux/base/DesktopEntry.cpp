#include "DesktopEntry.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

namespace brimlow::platform::linuxdesktop {
namespace {

constexpr std::string_view group = "[Desktop Entry]";
// Inside a quoted Exec argument these take a backslash.
constexpr std::string_view quotedSpecials = "\"`$\\";

std::string trimmed(std::string_view text) {
    const char* blank = " \t";
    auto first = text.find_first_not_of(blank);
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(blank) - first + 1));
}

// The escapes of a string value, as (letter, character). \s is only needed for a value that
// starts with a blank, and ours start with a quote.
constexpr std::pair<char, char> stringEscapes[] = {
    {'\\', '\\'}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'s', ' '}};

// An unknown escape is kept as it stands.
std::string unescapedString(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto* escape = i + 1 < value.size() && value[i] == '\\'
                                 ? std::find_if(std::begin(stringEscapes), std::end(stringEscapes),
                                                [&](auto& e) { return e.first == value[i + 1]; })
                                 : std::end(stringEscapes);
        if (escape == std::end(stringEscapes)) {
            text += value[i];
        } else {
            text += escape->second;
            ++i;
        }
    }
    return text;
}

std::string escapedString(std::string_view text) {
    std::string value;
    for (char c : text) {
        const auto* escape = std::find_if(std::begin(stringEscapes), std::end(stringEscapes) - 1,
                                          [&](auto& e) { return e.second == c; });
        value += escape == std::end(stringEscapes) - 1 ? std::string(1, c)
                                                       : std::string{'\\', escape->first};
    }
    return value;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                                                           : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode.
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
}

bool writable(std::string_view argument) {
    for (char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) {
            return false;
        }
    }
    return isUtf8(argument);
}

// %% is a literal percent sign; any other field code stands for files or URLs, and there are
// none at login.
std::string withoutFieldCodes(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            text += value[i];
        } else if (i + 1 < value.size() && value[++i] == '%') {
            text += '%';
        }
    }
    return text;
}

} // namespace

std::optional<std::map<std::string, std::string>> desktopEntryKeys(const std::string& text) {
    std::map<std::string, std::string> keys;
    bool inGroup = false;
    bool sawGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (trimmed(line).empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inGroup = line == group;
            sawGroup = sawGroup || inGroup;
            continue;
        }
        auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        // The first occurrence of a key counts, as desktops read it.
        if (inGroup) {
            keys.emplace(trimmed(line.substr(0, equals)),
                         unescapedString(trimmed(line.substr(equals + 1))));
        }
    }
    if (!sawGroup) {
        return std::nullopt;
    }
    return keys;
}

std::optional<std::string> execValue(const std::vector<std::string>& arguments) {
    std::string exec;
    for (const std::string& argument : arguments) {
        if (!writable(argument)) {
            return std::nullopt;
        }
        std::string quoted = "\"";
        for (char c : argument) {
            if (quotedSpecials.find(c) != std::string_view::npos) {
                quoted += '\\';
            }
            quoted += c == '%' ? std::string("%%") : std::string(1, c);
        }
        exec += (exec.empty() ? "" : " ") + quoted + "\"";
    }
    return escapedString(exec);
}

std::optional<std::string> stringValue(const std::string& text) {
    return writable(text) ? std::optional(escapedString(text)) : std::nullopt;
}

std::optional<std::vector<std::string>> execArguments(const std::string& value) {
    const std::string exec = withoutFieldCodes(value);
    std::vector<std::string> arguments;
    std::optional<std::string> current;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (current) {
                arguments.push_back(std::move(*current));
                current.reset();
            }
            continue;
        }
        if (!current) {
            current.emplace();
        }
        if (c != '"') {
            *current += c;
            continue;
        }
        for (++i;; ++i) {
            if (i == exec.size()) {
                return std::nullopt;
            }
            if (exec[i] == '"') {
                break;
            }
            if (exec[i] == '\\' && i + 1 < exec.size() &&
                quotedSpecials.find(exec[i + 1]) != std::string_view::npos) {
                ++i;
            }
            *current += exec[i];
        }
    }
    if (current) {
        arguments.push_back(std::move(*current));
    }
    return arguments;
}

} // namespace brimlow::platform::linuxdesktop
