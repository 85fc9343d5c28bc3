// A thousand requests of each way a server or the network can fail (refused, silent, a reply
// larger than allowed, a certificate nobody vouches for), against a real HTTPS server on
// loopback, through the real libcurl client. Prints the process's memory and open descriptors
// before and after each thousand: they must come back flat. It judges nothing.
//
//   bench_soak_requests [--rounds N]     (default 1000; the silent ones take 15 s a batch)

#include "Measure.h"
#include "TestServer.h"
#include "platform/linux/base/HelperHttpClient.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace brimlow;

namespace {

// As many at once as a busy program would never have, few enough for the server's threads.
constexpr int batch = 100;

// Sends `rounds` requests to `url`, `batch` at a time, and waits for every one to fail.
int failures(platform::HttpClient& http, const std::string& url, int rounds) {
    std::atomic<int> failed = 0;
    std::atomic<int> ended = 0;
    for (int sent = 0; sent < rounds;) {
        const int now = std::min(batch, rounds - sent);
        const int target = ended + now;
        for (int i = 0; i < now; ++i, ++sent) {
            platform::HttpRequest request;
            request.url = url;
            http.send(std::move(request), [&](platform::HttpOutcome outcome) {
                failed += outcome.error.has_value();
                ++ended;
            });
        }
        while (ended < target) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return failed;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = bench::numberOption(argc, argv, "--rounds", 1000);
    testing::TestServer server;
    if (!server.error.empty()) {
        std::fprintf(stderr, "bench_soak_requests: %s\n", server.error.c_str());
        return 1;
    }
    setenv("SSL_CERT_FILE", server.caFile.c_str(), 1);
    platform::linuxdesktop::HelperHttpClient http{BRIMLOW_REQUEST_HELPER};
    const std::string trusted = "https://127.0.0.1:" + std::to_string(server.trustedPort);
    const struct {
        const char* kind;
        std::string url;
    } kinds[] = {
        {"refused", "https://127.0.0.1:" + std::to_string(testing::closedLoopbackPort()) + "/"},
        {"bad certificate", "https://127.0.0.1:" + std::to_string(server.untrustedPort) + "/"},
        {"oversize", trusted + "/size?1048577"},
        {"silent (15 s each batch)", trusted + "/silent"},
    };
    // A first batch of each kind sets up what lives for the process (TLS, the resolver, the
    // allocator's arenas for as many threads).
    for (const auto& kind : kinds) {
        failures(http, kind.url, batch);
    }
    std::printf("%-26s %8s %14s %14s %12s %12s %8s %8s\n", "kind", "failed", "VmRSS before",
                "VmRSS after", "Anon before", "Anon after", "fds bef.", "fds aft.");
    for (const auto& kind : kinds) {
        // Freed memory the allocator still holds is handed back, so what stays is what lives.
        malloc_trim(0);
        const double rssBefore = bench::statusMb(0, "VmRSS") * 1024;
        const double anonBefore = bench::statusMb(0, "RssAnon") * 1024;
        const long fdsBefore = bench::openDescriptors(0);
        const int failed = failures(http, kind.url, rounds);
        malloc_trim(0);
        std::printf("%-26s %5d/%-4d %11.0f kB %11.0f kB %9.0f kB %9.0f kB %8ld %8ld\n", kind.kind,
                    failed, rounds, rssBefore, bench::statusMb(0, "VmRSS") * 1024, anonBefore,
                    bench::statusMb(0, "RssAnon") * 1024, fdsBefore, bench::openDescriptors(0));
    }
    return 0;
}
