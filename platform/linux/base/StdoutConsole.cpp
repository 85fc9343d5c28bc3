#include "StdoutConsole.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
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

// Each line goes out at once in one write(2): standard output is usually a pipe or a journal, a
// line that waits in a buffer is a line nobody sees when the program is killed, and an idle tick
// then wakes no stream, locale or buffer of the C++ library.
void StdoutConsole::printLine(const std::string& line) {
    const std::string text = line + '\n';
    std::lock_guard lock(mutex_);
    for (std::size_t written = 0; written < text.size();) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (n < 0 && errno != EINTR) {
            return;
        }
        written += n > 0 ? std::size_t(n) : 0;
    }
}

void StdoutConsole::printTickLine(const std::string& line) {
    if (!toJournal_) {
        printLine(line);
    }
}

} // namespace brimlow::platform::linuxdesktop
