#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brimlow {

// The host this program was built for (the CMake setting BRIMLOW_SERVER_HOST, optionally with
// ":port"); empty in a build made to contact no server. Tests set it to run the program as such a
// build.
extern std::string_view builtServerHost;

// The server's host, optionally with ":port", as chosenServerHost picks it from builtServerHost
// and the environment variable BRIMLOW_SERVER_HOST; empty when the program contacts no server.
std::string serverHost();

// The host for a build made for `built` when BRIMLOW_SERVER_HOST holds `environment` (null when it
// is unset). The variable, when not empty, redirects a build that has a server, for staging and
// tests; it cannot give a server to a build made without one, since whoever built that (a
// distribution, a managed fleet) relies on it never sending anything.
std::string chosenServerHost(std::string_view built, const char* environment);

// A fresh number from 0 to 999 999 999, each equally likely. It makes every request URL
// distinct, so that no cache on the way can answer a request.
std::uint32_t randomRequestNumber();

} // namespace brimlow
