#include "Text.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/numberformatter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

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

std::vector<std::string> characters(std::string_view utf8) {
    icu::UnicodeString text = fromUtf8(utf8);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || breaks == nullptr) {
        throw std::runtime_error("ICU has no character break data");
    }
    breaks->setText(text);
    std::vector<std::string> pieces;
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        pieces.push_back(toUtf8(text.tempSubStringBetween(start, end)));
        start = end;
    }
    return pieces;
}

bool isWellFormedUtf8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::size_t length = bytes.size();
    std::size_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

std::string percentEncodedExceptAlphanumerics(std::string_view utf8) {
    constexpr uint32_t kept = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
    constexpr char hexDigits[] = "0123456789ABCDEF";
    icu::UnicodeString text = fromUtf8(utf8);
    std::string out;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        UChar32 c = text.char32At(i);
        std::string bytes = toUtf8(icu::UnicodeString(c));
        if ((U_GET_GC_MASK(c) & kept) != 0) {
            out += bytes;
            continue;
        }
        for (unsigned char byte : bytes) {
            out += '%';
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        }
    }
    return out;
}

// Kept while the locale stays: ICU builds a formatter's locale data anew for every fresh one, and
// a program that nudges all day formats a number at every nudge.
std::string groupedDecimal(std::int64_t value) {
    static std::string localeName;
    static std::optional<icu::number::LocalizedNumberFormatter> formatter;
    const icu::Locale& locale = icu::Locale::getDefault();
    if (!formatter || localeName != locale.getName()) {
        formatter = icu::number::NumberFormatter::withLocale(locale);
        localeName = locale.getName();
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString formatted = formatter->formatInt(value, status).toString(status);
    return U_SUCCESS(status) ? toUtf8(formatted) : std::to_string(value);
}

} // namespace brimlow::platform::text
