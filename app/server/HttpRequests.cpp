#include "SCL.h"
#include "platform/Text.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace brimlow {
namespace {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

const char* const noErrorNoData = "No error, no data";
const char* const notAscii = "The server's reply is not 7-bit ASCII text.";

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isUnreserved(char c) {
    return isAsciiLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Copies `part` to `out` when every character may stand there: URI characters, `extra` and
// well-formed percent escapes. Non-ASCII text (a letter the percent-encoding keeps) goes out as
// its percent-encoded UTF-8 bytes, the URI form of the same address.
bool appendUriPart(std::string_view part, std::string_view extra, bool nonAsciiAllowed,
                   std::string& out) {
    constexpr char hexDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < part.size(); ++i) {
        char c = part[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            if (!nonAsciiAllowed) {
                return false;
            }
            auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        } else if (c == '%') {
            if (i + 2 >= part.size() || !isHexDigit(part[i + 1]) || !isHexDigit(part[i + 2])) {
                return false;
            }
            out += part.substr(i, 3);
            i += 2;
        } else if (isUnreserved(c) || isSubDelimiter(c) ||
                   extra.find(c) != std::string_view::npos) {
            out += c;
        } else {
            return false;
        }
    }
    return true;
}

bool isHost(std::string_view host) {
    if (host.starts_with('[')) {
        return host.size() > 2 && host.ends_with(']') &&
               std::all_of(host.begin() + 1, host.end() - 1,
                           [](char c) { return isHexDigit(c) || c == ':' || c == '.'; });
    }
    std::string ignored;
    return !host.empty() && appendUriPart(host, "", false, ignored);
}

// The URL as URI text ready for the wire, or nothing when it is not an absolute URL with a host.
std::optional<std::string> requestUri(std::string_view url) {
    if (!platform::text::isWellFormedUtf8(url)) {
        return std::nullopt;
    }
    std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0 || !isAsciiLetter(url[0]) ||
        !std::all_of(url.begin(), url.begin() + schemeEnd, [](char c) {
            return isAsciiLetter(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
        })) {
        return std::nullopt;
    }
    std::size_t authorityStart = schemeEnd + 3;
    std::size_t authorityEnd = std::min(url.find_first_of("/?#", authorityStart), url.size());
    std::string_view authority = url.substr(authorityStart, authorityEnd - authorityStart);
    std::string_view hostAndPort = authority.substr(authority.rfind('@') + 1);
    std::size_t portStart = hostAndPort.rfind(':');
    if (portStart != std::string_view::npos &&
        hostAndPort.find(']', portStart) == std::string_view::npos) {
        std::string_view port = hostAndPort.substr(portStart + 1);
        if (!std::all_of(port.begin(), port.end(), isDigit)) {
            return std::nullopt;
        }
        hostAndPort = hostAndPort.substr(0, portStart);
    }
    std::string uri(url.substr(0, authorityStart));
    if (!isHost(hostAndPort) || !appendUriPart(authority, ":@[]", false, uri)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(authorityEnd);
    std::size_t fragmentStart = std::min(rest.find('#'), rest.size());
    if (!appendUriPart(rest.substr(0, fragmentStart), ":@/?", true, uri)) {
        return std::nullopt;
    }
    if (fragmentStart < rest.size()) {
        uri += '#';
        if (!appendUriPart(rest.substr(fragmentStart + 1), ":@/?", true, uri)) {
            return std::nullopt;
        }
    }
    return uri;
}

bool sameHeaderName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// A second value under a name already given joins the first, comma-separated, as HTTP reads
// repeated fields.
HeaderFields headerFields(std::string_view headers, platform::Console& console) {
    HeaderFields fields;
    for (std::size_t start = 0; start <= headers.size();) {
        std::size_t end = std::min(headers.find('\n', start), headers.size());
        std::string_view line = headers.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        std::size_t separator = line.find(": ");
        std::string value;
        std::string name;
        if (separator == std::string_view::npos) {
            console.printLine("textfrom - no match");
            console.printLine("textto - no match");
        } else {
            value = line.substr(separator + 2);
            name = line.substr(0, separator);
        }
        auto given = std::find_if(fields.begin(), fields.end(), [&](const auto& field) {
            return sameHeaderName(field.first, name);
        });
        if (given != fields.end()) {
            given->second += "," + value;
        } else {
            fields.emplace_back(std::move(name), std::move(value));
        }
    }
    return fields;
}

void deliverFailure(platform::Console& console, platform::MainQueue& mainQueue,
                    SCL::TextHandler onFailure, const std::string& description) {
    console.printLine(description);
    mainQueue.async([onFailure = std::move(onFailure), description] { onFailure(description); });
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

void SCL::sendRequest(const platform::Desktop& desktop, const std::string& url,
                      TextHandler onSuccess, TextHandler onFailure, const std::string& body,
                      const std::string& headers, DataHandler onData) {
    platform::Console& console = desktop.console;
    platform::MainQueue& mainQueue = desktop.mainQueue;
    std::optional<std::string> uri = requestUri(url);
    if (!uri) {
        deliverFailure(console, mainQueue, std::move(onFailure),
                       "The URL cannot be parsed: " + url);
        return;
    }
    platform::HttpRequest request;
    request.url = std::move(*uri);
    if (!body.empty()) {
        request.method = "POST";
        request.body = body;
    }
    request.headers = headerFields(headers, console);

    // Runs on a worker thread: it only prints and queues.
    desktop.http.send(
        std::move(request),
        [&console, &mainQueue, onSuccess = std::move(onSuccess), onFailure = std::move(onFailure),
         onData = std::move(onData)](platform::HttpOutcome outcome) mutable {
            if (outcome.error) {
                deliverFailure(console, mainQueue, std::move(onFailure), *outcome.error);
            } else if (!outcome.body) {
                deliverFailure(console, mainQueue, std::move(onFailure), noErrorNoData);
            } else if (!isAscii(*outcome.body)) {
                deliverFailure(console, mainQueue, std::move(onFailure), notAscii);
            } else {
                mainQueue.async([onSuccess = std::move(onSuccess), onData = std::move(onData),
                                 reply = std::move(*outcome.body)] {
                    onSuccess(reply);
                    onData(reply);
                });
            }
        });
}

} // namespace brimlow
