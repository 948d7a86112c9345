#include "events/LogSinks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace {

constexpr auto retryInterval = std::chrono::seconds(1);

} // namespace

EventLogFile::~EventLogFile() {
    writeWaiting();
    if (!waiting.empty())
        report(std::to_string(waiting.size()) + " lines could not be written to the events log " + path +
               " and are lost");
    if (fd >= 0) close(fd);
}

bool EventLogFile::open(const std::string& logPath) {
    path = logPath;
    return openFile();
}

bool EventLogFile::openFile() {
    if (fd >= 0) close(fd);
    // Close-on-exec: commands the watcher starts must not inherit the log.
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    heldByOther = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (heldByOther) {
        close(fd);
        fd = -1;
    }
    struct stat directory {};
    if (fd >= 0 && stat(fs::path(path).parent_path().c_str(), &directory) == 0) {
        directoryDevice = directory.st_dev;
        directoryInode = directory.st_ino;
    }
    cutTo = -1;
    return fd >= 0;
}

// Whether the path still names the open file.
bool EventLogFile::stillOurs() const {
    struct stat opened {}, named {};
    return fd >= 0 && fstat(fd, &opened) == 0 && opened.st_nlink > 0 && stat(path.c_str(), &named) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Goes on in a new file where the old one was, the directory made again
// when it went with it.
void EventLogFile::reopen() {
    const fs::path directory = fs::path(path).parent_path();
    struct stat now {};
    const bool sameDirectory = stat(directory.c_str(), &now) == 0 && now.st_dev == directoryDevice &&
                               now.st_ino == directoryInode;
    std::error_code ignored;
    fs::create_directories(directory, ignored);
    if (!openFile()) return; // reported as a write failure
    report(sameDirectory ? "the events log " + path + " was deleted or replaced: it goes on in a new file"
                         : "the output directory " + directory.string() +
                               " was deleted or replaced: it was made again and the events log goes on in a new file");
}

// One line with its newline, whole or not at all.
bool EventLogFile::append(const std::string& text) {
    if (!stillOurs()) reopen();
    if (fd < 0) return false;
    if (cutTo >= 0) {
        if (ftruncate(fd, cutTo) != 0) return false;
        cutTo = -1;
    }
    const off_t before = lseek(fd, 0, SEEK_END);
    ssize_t written;
    do {
        errno = 0;
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written == ssize_t(text.size())) {
        fdatasync(fd);
        return true;
    }
    const int error = written >= 0 ? ENOSPC : errno;
    if (written > 0 && ftruncate(fd, before) != 0) cutTo = before;
    errno = error;
    return false;
}

void EventLogFile::writeWaiting() {
    lastTry = std::chrono::steady_clock::now();
    while (!waiting.empty()) {
        if (!append(waiting.front())) {
            if (!failing)
                report("cannot append to the events log " + path + " (" + std::strerror(errno) +
                       "): its lines wait until it can be written");
            failing = true;
            return;
        }
        waiting.pop_front();
    }
    if (failing) report("the events log " + path + " is written again, with the lines that waited");
    failing = false;
    dropping = false;
}

void EventLogFile::line(const EventLine& line) {
    waiting.push_back(line.json + "\n");
    if (waiting.size() > maxWaiting) {
        waiting.pop_front();
        if (!dropping)
            report("more than " + std::to_string(maxWaiting) +
                   " lines wait for the events log: the oldest of them are dropped");
        dropping = true;
    }
    writeWaiting();
}

void EventLogFile::frame(const WatchedFrame&) {
    if (!waiting.empty() && std::chrono::steady_clock::now() - lastTry >= retryInterval) writeWaiting();
}

void StandardOutputLines::line(const EventLine& line) {
    std::cout << line.json << std::endl;
}
