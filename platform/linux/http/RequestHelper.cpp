// The program's HTTP requests, one per run: the request on standard input, the outcome on
// standard output, both as HelperHttpClient encodes them. Exits 2 for input that is no request.

#include "CurlTransfer.h"
#include "platform/linux/base/HelperHttpClient.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

int main() {
    using namespace brimlow::platform::linuxdesktop;
    const std::string input{std::istreambuf_iterator<char>(std::cin),
                            std::istreambuf_iterator<char>()};
    auto request = decodedRequest(input);
    if (!request) {
        std::fprintf(stderr, "brimlow-request: standard input is no request\n");
        return 2;
    }
    std::cout << encodedOutcome(curlTransfer(request->first, request->second));
    std::cout.flush();
    return std::cout ? 0 : 1;
}
