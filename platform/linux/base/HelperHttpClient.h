#pragma once

#include "platform/HttpClient.h"

#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace brimlow::platform::linuxdesktop {

// Each request is made by a helper program of its own, started from a worker thread that
// waits for it: the TLS library, its certificates and its buffers live and die with the
// helper, so the program never loads them and keeps nothing of a transfer once it has ended.
// SSL_CERT_FILE, read when the request is sent, names a CA bundle the helper trusts in
// addition to the system's. A helper that cannot be started or ends without an answer is a
// transport error that says so.
class HelperHttpClient final : public HttpClient {
public:
    explicit HelperHttpClient(std::string helper);
    // Ends the helpers still running and waits for their threads. Their completions do not
    // run: what they would queue onto may already be gone.
    ~HelperHttpClient() override;
    HelperHttpClient(const HelperHttpClient&) = delete;
    HelperHttpClient& operator=(const HelperHttpClient&) = delete;

    void send(HttpRequest request, Completion completed) override;

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished = false;
    };

    const std::string helper_;
    std::atomic<bool> aborting_ = false;
    // Held while a completion runs, so that none starts once the client is going.
    std::mutex completionMutex_;
    bool closed_ = false;
    std::mutex workersMutex_;
    std::list<Worker> workers_;
};

// What the helper reads on its standard input and writes on its standard output: each text as
// its length in decimal, a line feed and its bytes. Nothing when the text is not such a record.
std::string encodedRequest(const HttpRequest& request, const std::string& extraBundle);
std::optional<std::pair<HttpRequest, std::string>> decodedRequest(std::string_view text);
std::string encodedOutcome(const HttpOutcome& outcome);
std::optional<HttpOutcome> decodedOutcome(std::string_view text);

} // namespace brimlow::platform::linuxdesktop
