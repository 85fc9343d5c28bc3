#pragma once

#include <string>
#include <sys/types.h>

namespace brimlow::bench {

// A "kB" field of /proc/PID/status (VmRSS, RssAnon, ...) in MB; -1 when it can't be read. A pid
// of 0 is this process.
double statusMb(pid_t pid, const std::string& field);

// How many descriptors process `pid` has open (0: this process); -1 when it can't be read.
long openDescriptors(pid_t pid);

// The number after `flag` on a command line of nothing else; `fallback` when there is no
// argument; exits with the usage line for anything else.
int numberOption(int argc, char** argv, const char* flag, int fallback);

} // namespace brimlow::bench
