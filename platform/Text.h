#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Unicode text operations the program needs, on UTF-8 strings. Invalid UTF-8 is treated as
// U+FFFD where it stands.
namespace brimlow::platform::text {

// The canonically composed form (NFC).
std::string composed(std::string_view utf8);

// True when both texts are canonically equivalent.
bool canonicallyEqual(std::string_view a, std::string_view b);

// Code point order of the composed forms; false for equal texts.
bool sortsBefore(std::string_view a, std::string_view b);

// The text without the white space and line-break characters at both ends (Unicode space
// separators, tab, LF, VT, FF, CR, NEL, LS and PS).
std::string trimmedOfWhitespaceAndNewlines(std::string_view utf8);

// The user-perceived characters (extended grapheme clusters), in order.
std::vector<std::string> characters(std::string_view utf8);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool isWellFormedUtf8(std::string_view bytes);

// Letters, marks and numbers of any script (general categories L, M and N) stay as they are;
// every other character becomes its UTF-8 bytes, each written as "%" and two upper-case
// hexadecimal digits.
std::string percentEncodedExceptAlphanumerics(std::string_view utf8);

// The number in decimal, digits grouped as the user's locale groups them ("1,000" in English).
// Main thread only.
std::string groupedDecimal(std::int64_t value);

} // namespace brimlow::platform::text
