#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brimlow::platform {

struct HttpRequest {
    std::string url;
    // "GET" or "POST".
    std::string method = "GET";
    // Sent as is, only with POST.
    std::string body;
    // Sent in order, exactly as given; nothing else is added.
    std::vector<std::pair<std::string, std::string>> headers;
};

// How a transfer ended: a transport error, or the reply body whatever its status.
struct HttpOutcome {
    std::optional<std::string> error;
    std::optional<std::string> body;
};

// HTTPS transfers: TLS always verified, caches bypassed, redirects followed up to a limit,
// 15 s without data or 30 s in all end a transfer with an error.
class HttpClient {
public:
    using Completion = std::function<void(HttpOutcome)>;

    virtual ~HttpClient() = default;
    // Returns at once. `completed` runs exactly once, on a worker thread, when the transfer ends.
    virtual void send(HttpRequest request, Completion completed) = 0;
};

} // namespace brimlow::platform
