#pragma once

#include <cstdint>
#include <string>

namespace brimlow {

// The server's host, optionally with ":port": BRIMLOW_SERVER_HOST from the environment when it
// is set, else the host the program was built for.
std::string serverHost();

// A fresh number from 0 to 999 999 999, each equally likely. It makes every request URL
// distinct, so that no cache on the way can answer a request.
std::uint32_t randomRequestNumber();

} // namespace brimlow
