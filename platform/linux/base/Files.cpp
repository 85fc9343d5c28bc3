#include "Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

namespace fs = std::filesystem;

// As many links as the kernel itself follows before it gives up.
constexpr int maxLinks = 40;

std::string systemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The file that writing to `path` would change, links followed; an error when they loop.
std::string resolveLinks(fs::path& path) {
    for (int links = 0; links < maxLinks; ++links) {
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target);
        // Not a link (or nothing there, or a folder in the way, which the write itself reports).
        if (length < 0) {
            return errno == ELOOP ? systemError(path.string(), errno) : std::string();
        }
        if (std::size_t(length) == sizeof target) {
            return path.string() + ": link target too long";
        }
        fs::path next(std::string(target, std::size_t(length)));
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return systemError(path.string(), ELOOP);
}

bool writeAll(int fd, const std::string& contents) {
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        data += written;
        left -= std::size_t(written);
    }
    return true;
}

std::string temporaryName(const fs::path& target) {
    static std::mt19937_64 random{std::random_device{}()};
    return "." + target.filename().string() + "." + std::to_string(random() % 1'000'000'000);
}

} // namespace

std::string xdgBaseDirectory(const char* variable, const std::string& fallback) {
    if (const char* configured = std::getenv(variable);
        configured != nullptr && *configured == '/') {
        return configured;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : "";
    }
    return std::string(home) + "/" + fallback;
}

std::vector<std::string> xdgBaseDirectories(const char* variable, const std::string& fallback) {
    const char* configured = std::getenv(variable);
    std::istringstream list(configured != nullptr && *configured != '\0' ? configured : fallback);
    std::vector<std::string> folders;
    for (std::string folder; std::getline(list, folder, ':');) {
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
    }
    return folders;
}

std::optional<std::string> readSmallFile(const std::string& path, std::uintmax_t largest) {
    std::error_code error;
    if (!fs::is_regular_file(path, error) || fs::file_size(path, error) > largest || error) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return in.bad() ? std::nullopt : std::optional(std::move(text));
}

WriteTarget writeTarget(const std::string& path) {
    fs::path target(path);
    if (std::string error = resolveLinks(target); !error.empty()) {
        return {target.string(), error};
    }
    struct stat existing {};
    if (lstat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return {target.string(), target.string() + " is not a regular file"};
    }
    return {target.string(), ""};
}

std::string replaceFileAtomically(const std::string& path, const std::string& contents,
                                  unsigned newFileMode) {
    const WriteTarget resolved = writeTarget(path);
    if (!resolved.refusal.empty()) {
        return resolved.refusal;
    }
    const fs::path target(resolved.path);
    struct stat existing {};
    const bool exists = lstat(target.c_str(), &existing) == 0;
    std::error_code made;
    fs::create_directories(target.parent_path(), made);
    if (made) {
        return target.parent_path().string() + ": " + made.message();
    }

    const mode_t mode = exists ? existing.st_mode & 07777 : mode_t(newFileMode);
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target.parent_path() / temporaryName(target);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            return systemError(target.parent_path().string(), errno);
        }
    }
    if (fd < 0) {
        return systemError(target.parent_path().string(), EEXIST);
    }
    if (exists) {
        fchmod(fd, mode);
    }
    int error = 0;
    if (!writeAll(fd, contents) || fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return systemError(target.string(), error);
    }
    // The rename itself reaches the disk only with its folder.
    if (int folder = open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return {};
}

} // namespace brimlow::platform::linuxdesktop
