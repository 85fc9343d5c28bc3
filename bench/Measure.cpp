#include "Measure.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brimlow::bench {
namespace {

std::string procFolder(pid_t pid) {
    return pid == 0 ? "/proc/self" : "/proc/" + std::to_string(pid);
}

} // namespace

double statusMb(pid_t pid, const std::string& field) {
    std::ifstream in(procFolder(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream value(line.substr(field.size() + 1));
            double kb = 0;
            value >> kb;
            return kb / 1024.0;
        }
    }
    return -1;
}

long openDescriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator fds(procFolder(pid) + "/fd", error);
    return error ? -1 : std::distance(fds, std::filesystem::directory_iterator());
}

int numberOption(int argc, char** argv, const char* flag, int fallback) {
    if (argc == 1) {
        return fallback;
    }
    if (argc == 3 && std::strcmp(argv[1], flag) == 0 && std::atoi(argv[2]) > 0) {
        return std::atoi(argv[2]);
    }
    std::fprintf(stderr, "usage: %s [%s N]     (default %d)\n", argv[0], flag, fallback);
    std::exit(2);
}

} // namespace brimlow::bench
