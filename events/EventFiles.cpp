#include "events/EventFiles.h"

#include "io/UniqueFile.h"

#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const snapshotExtension = ".jpg";

// The names EventFiles gives, and only those: pruning and repairs touch
// nothing else.
const std::regex eventFileName(R"((event_\d{8}_\d{6}_\d{4,}(_\d+)?)\.(avi|mp4|jpg))");

std::string eventStem(int eventNumber, const std::tm& localStart) {
    char time[32];
    std::strftime(time, sizeof time, "%Y%m%d_%H%M%S", &localStart);
    char number[16];
    std::snprintf(number, sizeof number, "%04d", eventNumber);
    return std::string("event_") + time + "_" + number;
}

// Writes bytes as the whole file at path and flushes it to the disk;
// returns why not, "" when it did. Nothing is left of a file that failed.
std::string writeWholeFile(const fs::path& path, const std::vector<uchar>& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += size_t(n);
        else if (!(n < 0 && errno == EINTR)) break;
    }
    const int error = done < bytes.size() ? (errno != 0 ? errno : ENOSPC) : fdatasync(fd) != 0 ? errno : 0;
    close(fd);
    if (error == 0) return "";
    unlink(path.c_str());
    return std::strerror(error);
}

} // namespace

EventFiles::EventFiles(fs::path directory, cv::Size frameSize, ClipFormat format,
                       std::function<void(const std::string&)> report)
    : directory(std::move(directory)), report(std::move(report)), frameSize(frameSize), format(format),
      clip(format) {}

void EventFiles::begin(int number, const std::tm& localStart, double fps) {
    eventNumber = number;
    std::error_code ignored;
    fs::create_directories(directory, ignored); // the events log reports a directory that went
    // A name is free only when no event of any run, in either clip format, has it.
    const ClipFormat other = format == ClipFormat::Avi ? ClipFormat::Mp4 : ClipFormat::Avi;
    currentStem = createUniqueFile(directory, eventStem(number, localStart), clipExtension(format),
                                   {snapshotExtension, clipExtension(other)});
    snapshot.release();
    framesGiven = 0;
    clip.open((directory / (currentStem + clipExtension(format))).string(), fps, frameSize);
}

void EventFiles::write(const ClipFrame& frame) {
    if (!clip.isOpen()) return;
    clip.write(frame);
    ++framesGiven;
}

void EventFiles::keepSnapshot(const cv::Mat& frame) {
    snapshot = frame;
}

EventFiles::Written EventFiles::finish(double fps) {
    Written written;
    std::string problems = finishClip(written, fps);
    const std::string snapshotProblem = writeSnapshot(written);
    if (!problems.empty() && !snapshotProblem.empty()) problems += "; ";
    problems += snapshotProblem;
    if (!problems.empty()) report("event " + std::to_string(eventNumber) + ": " + problems);
    return written;
}

// What went wrong with the clip, "" when nothing did.
std::string EventFiles::finishClip(Written& written, double fps) {
    const std::string name = currentStem + clipExtension(format);
    const bool opened = clip.isOpen();
    const long long frames = clip.close(fps);
    if (frames > 0) {
        written.clip = name;
        written.clipFrames = frames;
    }
    if (clip.failure().empty()) return "";
    if (!opened) return "the clip " + name + " could not be written (" + clip.failure() + ")";
    return "the clip " + name + " holds " + std::to_string(frames) + " of its " + std::to_string(framesGiven) +
           " frames (" + clip.failure() + ")";
}

std::string EventFiles::writeSnapshot(Written& written) {
    const std::string name = currentStem + snapshotExtension;
    std::vector<uchar> jpeg;
    std::string failure = "no frame for it";
    if (!snapshot.empty() && cv::imencode(snapshotExtension, snapshot, jpeg)) {
        std::error_code ignored;
        fs::create_directories(directory, ignored);
        failure = writeWholeFile(directory / name, jpeg);
    }
    snapshot.release();
    if (!failure.empty()) return "the snapshot " + name + " could not be written (" + failure + ")";
    written.snapshot = name;
    return "";
}

std::string eventFileStem(const std::string& fileName) {
    // Real names are about 30 characters; the bound keeps the regex's
    // recursion shallow whatever a web client sends.
    std::smatch match;
    return fileName.size() <= 64 && std::regex_match(fileName, match, eventFileName) ? std::string(match[1])
                                                                                    : std::string();
}
