#include "io/UniqueFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace {

bool claim(const fs::path& directory, const std::string& stem, const std::string& extension,
           const std::vector<std::string>& companions) {
    std::error_code ignored;
    for (const std::string& companion : companions)
        if (fs::exists(directory / (stem + companion), ignored)) return false;
    const int fd = open((directory / (stem + extension)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) close(fd);
    return fd >= 0 || errno != EEXIST;
}

} // namespace

std::string createUniqueFile(const fs::path& directory, const std::string& stem, const std::string& extension,
                             const std::vector<std::string>& companions) {
    std::string candidate = stem;
    for (int suffix = 1; !claim(directory, candidate, extension, companions); ++suffix)
        candidate = stem + "_" + std::to_string(suffix);
    return candidate;
}
