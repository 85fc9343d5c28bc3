#pragma once

#include "platform/HostIdentity.h"

#include <string>
#include <string_view>

namespace brimlow {

// "login - computer" with only the user-perceived characters canonically equivalent to one of
// a-z, A-Z, 0-9, space, "-" and "_" kept; every other character is dropped whole.
std::string filteredIdentity(std::string_view login, std::string_view computer);

// "major.minor".
std::string osVersionText(platform::OsVersion version);

} // namespace brimlow
