#include "StdoutConsole.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

bool stdoutIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    char rest = 0;
    if (stream == nullptr ||
        std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX "%c", &device, &inode, &rest) != 2) {
        return false;
    }
    struct stat output {};
    return fstat(STDOUT_FILENO, &output) == 0 && output.st_dev == device && output.st_ino == inode;
}

} // namespace

StdoutConsole::StdoutConsole() : toJournal_(stdoutIsJournal()) {}

// Flushed per line: standard output is usually a pipe or a journal, and a line that waits in a
// buffer is a line nobody sees when the program is killed.
void StdoutConsole::printLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::cout << line << '\n' << std::flush;
}

void StdoutConsole::printTickLine(const std::string& line) {
    if (!toJournal_) {
        printLine(line);
    }
}

} // namespace brimlow::platform::linuxdesktop
