// Turns a configuration into the reply the server sends for it, and back.

#include "app/server/RemoteConfig.h"
#include "platform/Text.h"

#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

const char* const usage =
    "usage: brimlow-config encode|decode\n"
    "  encode  reads a configuration from standard input: four lines, \"config\", the setting,\n"
    "          the minimum version and the latest version, separated by line feeds (a final\n"
    "          line feed is ignored); writes the reply the server sends for it\n"
    "  decode  reads a reply exactly as the server sends it; writes the configuration it\n"
    "          carries\n";

int fail(const std::string& message) {
    std::cerr << "brimlow-config: " << message << "\n";
    return 1;
}

int encode(std::string text) {
    // Text files end in a line feed, a configuration never does: the program would read a
    // fifth, empty line and reject it.
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    if (!brimlow::platform::text::isWellFormedUtf8(text) || !brimlow::parsedConfigText(text)) {
        return fail("the input is not a configuration the program accepts: exactly four lines "
                    "of UTF-8 text separated by line feeds, the first \"config\"");
    }
    std::string reply = brimlow::scrambledConfigText(text);
    if (brimlow::unscrambledConfigText(reply) != text) {
        return fail("the program would not read this configuration back unchanged");
    }
    std::cout << reply;
    return 0;
}

int decode(std::string_view reply) {
    std::string text = brimlow::unscrambledConfigText(reply);
    if (!brimlow::parsedConfigText(text)) {
        return fail("the reply does not carry a configuration the program accepts");
    }
    std::cout << text;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string_view command = argc == 2 ? argv[1] : "";
    if (command != "encode" && command != "decode") {
        std::cerr << usage;
        return 2;
    }
    std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    int status = command == "encode" ? encode(std::move(input)) : decode(input);
    std::cout.flush();
    return status != 0 ? status : (std::cout ? 0 : 1);
}
