#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brimlow {

// The client as an event describes it.
struct EventClient {
    std::string osVersion;
    std::string appVersion;
    std::string identity;
};

// The query of a usage event, keys in the order the server reads them.
std::string eventQuery(std::string_view name, std::string_view value, std::string_view notes,
                       const EventClient& client, std::uint32_t random);

} // namespace brimlow
