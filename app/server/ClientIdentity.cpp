#include "ClientIdentity.h"

#include "SCL.h"
#include "platform/Text.h"

namespace brimlow {
namespace {

bool isAllowed(std::string_view character) {
    // Canonical equivalence lets the Kelvin sign through as the K it stands for.
    std::string composed = platform::text::composed(character);
    if (composed.size() != 1) {
        return false;
    }
    char c = composed.front();
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_';
}

std::string filtered(std::string_view text) {
    std::string kept;
    for (const std::string& character : platform::text::characters(text)) {
        if (isAllowed(character)) {
            kept += character;
        }
    }
    return kept;
}

} // namespace

// The two names are filtered apart so that a name beginning with a combining mark cannot take
// the separator's space with it: the server relies on the " - " between them.
std::string filteredIdentity(std::string_view login, std::string_view computer) {
    return filtered(login) + " - " + filtered(computer);
}

std::string osVersionText(platform::OsVersion version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

// Function-local statics: C++ runs each initialisation once, also under concurrent first use.

const std::string& SCL::appVersion(const platform::Desktop& desktop) {
    static const std::string version = desktop.bundle.shortVersion();
    return version;
}

const std::string& SCL::clientIdentity(const platform::Desktop& desktop) {
    static const std::string identity =
        filteredIdentity(desktop.host.loginName(), desktop.host.computerName());
    return identity;
}

const std::string& SCL::osVersion(const platform::Desktop& desktop) {
    static const std::string version = osVersionText(desktop.host.osVersion());
    return version;
}

} // namespace brimlow
