#pragma once

#include <string>

namespace brimlow::platform::linuxdesktop {

// Starts the executable at `path` (its only argument is its own path) as a desktop starts a
// program: in a session of its own, with standard input from /dev/null, standard output and
// error and the environment inherited, default signal handling, and no other descriptor of
// ours. It is not our child: it outlives us, and no zombie is left behind when it ends first.
// Returns 0 once it runs, or the errno of why it could not be started. Safe from any thread.
int launchDetached(const std::string& path);

} // namespace brimlow::platform::linuxdesktop
