#include "StdoutConsole.h"

#include <iostream>

namespace brimlow::platform::linuxdesktop {

// Flushed per line: standard output is usually a pipe or a journal, and a line that waits in a
// buffer is a line nobody sees when the program is killed.
void StdoutConsole::printLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::cout << line << '\n' << std::flush;
}

} // namespace brimlow::platform::linuxdesktop
