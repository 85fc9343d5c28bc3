#pragma once

#include <optional>
#include <string>

namespace brimlow::platform::linuxdesktop {

// The questions every program in /usr/bin answers, before it opens a display, a bus or a file:
// `--help` and `--version` are answered on standard output (status 0), any other argument is
// named on standard error with the way to the usage (status 2). Nothing when there are no
// arguments, as a desktop launcher starts the program: it is to run.
std::optional<int> answerCommandLine(int argc, char** argv, const std::string& name,
                                     const std::string& version);

} // namespace brimlow::platform::linuxdesktop
