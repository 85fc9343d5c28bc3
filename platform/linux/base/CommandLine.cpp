#include "CommandLine.h"

#include <cstdio>
#include <string_view>

namespace brimlow::platform::linuxdesktop {
namespace {

// The installed command, whatever path the program was started by.
constexpr const char* command = "brimlow";

void printUsage(const std::string& name) {
    std::printf("Usage: %s [--help | --version]\n"
                "%s lives in the tray and nudges the pointer once the session has been idle for "
                "the\nthreshold set in its window. Start it from the desktop's menu or with %s; "
                "it takes no\narguments. Its settings are in ~/.config/pellvane/Brimlow2.conf; "
                "see brimlow(1).\n",
                command, name.c_str(), command);
}

} // namespace

std::optional<int> answerCommandLine(int argc, char** argv, const std::string& name,
                                     const std::string& version) {
    if (argc < 2) {
        return std::nullopt;
    }
    const std::string_view first = argv[1];
    if (argc == 2 && first == "--help") {
        printUsage(name);
        return 0;
    }
    if (argc == 2 && first == "--version") {
        std::printf("%s %s\n", name.c_str(), version.c_str());
        return 0;
    }
    const std::string_view unexpected = first == "--help" || first == "--version" ? argv[2] : first;
    std::fprintf(stderr, "%s: unexpected argument '%.*s'; try '%s --help'\n", command,
                 int(unexpected.size()), unexpected.data(), command);
    return 2;
}

} // namespace brimlow::platform::linuxdesktop
