#include "ServerUrls.h"

#include <cstdlib>
#include <random>

namespace brimlow {

// Read at every use rather than once, so a test can point the program at its own server.
std::string serverHost() {
    const char* configured = std::getenv("BRIMLOW_SERVER_HOST");
    if (configured != nullptr && *configured != '\0') {
        return configured;
    }
    return BRIMLOW_DEFAULT_SERVER_HOST;
}

std::uint32_t randomRequestNumber() {
    std::random_device source;
    return std::uniform_int_distribution<std::uint32_t>(0, 999'999'999)(source);
}

} // namespace brimlow
