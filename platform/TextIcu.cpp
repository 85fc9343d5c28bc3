#include "Text.h"

#include <stdexcept>
#include <unicode/normalizer2.h>
#include <unicode/numberformatter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace brimlow::platform::text {
namespace {

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
        throw std::runtime_error("ICU has no NFC data");
    }
    return *normalizer;
}

icu::UnicodeString fromUtf8(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

bool isWhitespaceOrNewline(UChar32 c) {
    if (u_charType(c) == U_SPACE_SEPARATOR) {
        return true;
    }
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string composed(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = nfc().normalize(fromUtf8(utf8), status);
    return U_SUCCESS(status) ? toUtf8(result) : std::string(utf8);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    return composed(a) == composed(b);
}

bool sortsBefore(std::string_view a, std::string_view b) {
    // UTF-8 byte order is code point order.
    return composed(a) < composed(b);
}

std::string trimmedOfWhitespaceAndNewlines(std::string_view utf8) {
    icu::UnicodeString text = fromUtf8(utf8);
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end && isWhitespaceOrNewline(text.char32At(start))) {
        start = text.moveIndex32(start, 1);
    }
    while (end > start && isWhitespaceOrNewline(text.char32At(text.moveIndex32(end, -1)))) {
        end = text.moveIndex32(end, -1);
    }
    return toUtf8(text.tempSubStringBetween(start, end));
}

std::string groupedDecimal(std::int64_t value) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString formatted =
        icu::number::NumberFormatter::withLocale(icu::Locale::getDefault())
            .formatInt(value, status)
            .toString(status);
    return U_SUCCESS(status) ? toUtf8(formatted) : std::to_string(value);
}

} // namespace brimlow::platform::text
