#pragma once

#include "platform/HttpClient.h"

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace brimlow::platform::linuxdesktop {

// One libcurl easy handle on a worker thread of its own per request. SSL_CERT_FILE, when set,
// names a CA bundle trusted in addition to the system's.
class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient();
    // Aborts the transfers still running and waits for their threads. Their completions do
    // not run: what they would queue onto may already be gone.
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    void send(HttpRequest request, Completion completed) override;

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished = false;
    };

    std::atomic<bool> aborting_ = false;
    // Held while a completion runs, so that none starts once the client is going.
    std::mutex completionMutex_;
    bool closed_ = false;
    std::mutex workersMutex_;
    std::list<Worker> workers_;
};

} // namespace brimlow::platform::linuxdesktop
