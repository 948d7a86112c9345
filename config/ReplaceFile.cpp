#include "config/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace {

// what, followed by the reason the last system call gave.
std::string failure(const std::string& what) {
    return what + ": " + std::generic_category().message(errno);
}

std::string writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure("cannot write");
        done += size_t(n);
    }
    return fsync(fd) == 0 ? "" : failure("cannot write");
}

// Fills the temporary file fd: the original's permissions, and its owner
// where allowed (a service running as root leaves the file its user's); a
// new file is readable by all and writable by its owner.
std::string fillTemporary(int fd, const struct stat* original, const std::string& text) {
    if (fchmod(fd, original ? original->st_mode & 07777 : 0644) != 0) return failure("cannot set the permissions");
    if (original && fchown(fd, original->st_uid, original->st_gid) != 0 && errno != EPERM)
        return failure("cannot set the owner");
    return writeAll(fd, text);
}

std::string syncDirectory(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failure("cannot sync " + directory);
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced ? "" : failure("cannot sync " + directory);
}

} // namespace

std::string replaceFile(const std::string& path, const std::string& text) {
    struct stat original {};
    const bool exists = stat(path.c_str(), &original) == 0;
    if (!exists && errno != ENOENT) return failure("cannot inspect " + path);
    std::string temporary = path + ".XXXXXX";
    // Close-on-exec: a command started meanwhile must not hold the file.
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return failure("cannot create a temporary file beside " + path);
    std::string error = fillTemporary(fd, exists ? &original : nullptr, text);
    if (close(fd) != 0 && error.empty()) error = failure("cannot write");
    if (error.empty() && rename(temporary.c_str(), path.c_str()) != 0) error = failure("cannot replace " + path);
    if (!error.empty()) {
        unlink(temporary.c_str());
        return error;
    }
    return syncDirectory(path);
}

