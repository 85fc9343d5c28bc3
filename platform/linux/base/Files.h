#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// A base folder of the XDG rules: $`variable` when it is an absolute path, else `fallback` under
// the home folder ($HOME, or the user database's).
std::string xdgBaseDirectory(const char* variable, const std::string& fallback);
// A list of base folders of the XDG rules, the most important first: $`variable` (folders
// separated by ':'), or `fallback` when it is unset or empty; relative entries are left out.
std::vector<std::string> xdgBaseDirectories(const char* variable, const std::string& fallback);

// What a write to `path` would change: the file at the end of its chain of links (the path itself
// when it is no link), and whether that may be replaced: a regular file, or nothing yet. Anything
// else there (a device, a FIFO, a socket, a folder) and a loop of links are not ours to write.
struct WriteTarget {
    std::string path;
    // Why it may not be written, in a few words; empty when it may.
    std::string refusal;
};
WriteTarget writeTarget(const std::string& path);

// The whole of a regular file (links followed) of at most `largest` bytes; nothing for a missing
// or unreadable file, for anything else there, or for a larger file.
std::optional<std::string> readSmallFile(const std::string& path, std::uintmax_t largest);

// Replaces the file at `path` with `contents` so that a reader, or a crash at any moment, finds
// the old file whole or the new one whole: a temporary file in the same folder is written,
// flushed to the disk and renamed over it. A symbolic link is followed and stays a link: the
// file it points at is replaced, in that file's own folder. Anything there that is not a regular
// file (a folder, a device, a FIFO, a socket) is left alone. A missing folder is made. A new file
// gets `newFileMode` less the umask; a replaced one keeps its mode. Returns why it failed, in a
// few words; empty on success.
std::string replaceFileAtomically(const std::string& path, const std::string& contents,
                                  unsigned newFileMode = 0666);

} // namespace brimlow::platform::linuxdesktop
