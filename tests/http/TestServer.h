#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow::testing {

// A loopback port nobody listens on: the kernel handed it out and it was closed again at once,
// so connections to it are refused at once instead of timing out.
int closedLoopbackPort();

// The HTTPS server of https_server.py, running while this object lives. It also stops when
// this process dies, since its standard input then closes.
class TestServer {
public:
    explicit TestServer(const std::vector<std::string>& extraArguments = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Empty once the server is up; otherwise why it is not.
    std::string error;
    int trustedPort = 0;
    int untrustedPort = 0;
    // The certificate of the authority behind the trusted port.
    std::string caFile;

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

} // namespace brimlow::testing
