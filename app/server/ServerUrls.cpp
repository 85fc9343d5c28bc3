#include "ServerUrls.h"

#include <cstdint>
#include <cstdlib>
#include <random>

namespace brimlow {

std::string_view builtServerHost = BRIMLOW_DEFAULT_SERVER_HOST;

// Read at every use rather than once, so a test can point the program at its own server.
std::string serverHost() {
    return chosenServerHost(builtServerHost, std::getenv("BRIMLOW_SERVER_HOST"));
}

std::string chosenServerHost(std::string_view built, const char* environment) {
    if (built.empty()) {
        return {};
    }
    if (environment != nullptr && *environment != '\0') {
        return environment;
    }
    return std::string(built);
}

std::uint32_t randomRequestNumber() {
    std::random_device source;
    return std::uniform_int_distribution<std::uint32_t>(0, 999'999'999)(source);
}

} // namespace brimlow
