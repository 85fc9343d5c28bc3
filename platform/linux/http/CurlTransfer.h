#pragma once

#include "platform/HttpClient.h"

#include <string>

namespace brimlow::platform::linuxdesktop {

// One HTTPS transfer through a libcurl easy handle, on the calling thread, as HttpClient
// describes them; `extraBundle`, when not empty, names a CA bundle trusted in addition to the
// system's. Any thread; libcurl is set up at the first call.
HttpOutcome curlTransfer(const HttpRequest& request, const std::string& extraBundle);

} // namespace brimlow::platform::linuxdesktop
