#include "events/EventFiles.h"

#include "io/UniqueFile.h"

#include <opencv2/imgcodecs.hpp>

#include <map>
#include <regex>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const snapshotExtension = ".jpg";

// The names EventFiles gives, and only those: pruning touches nothing else.
const std::regex eventFileName(R"((event_\d{8}_\d{6}_\d{4,}(_\d+)?)\.(avi|mp4|jpg))");

std::string eventStem(int eventNumber, const std::tm& localStart) {
    char time[32];
    std::strftime(time, sizeof time, "%Y%m%d_%H%M%S", &localStart);
    char number[16];
    std::snprintf(number, sizeof number, "%04d", eventNumber);
    return std::string("event_") + time + "_" + number;
}

} // namespace

bool isEventFileName(const std::string& name) {
    // Real names are about 30 characters; the bound keeps the regex's
    // recursion shallow whatever a client sends.
    return name.size() <= 64 && std::regex_match(name, eventFileName);
}

EventFiles::EventFiles(fs::path directory, double fps, cv::Size frameSize, ClipFormat format,
                       std::function<void(const std::string&)> report)
    : directory(std::move(directory)), report(std::move(report)), fps(fps), frameSize(frameSize), format(format),
      clip(format) {}

void EventFiles::begin(int eventNumber, const std::tm& localStart) {
    // A name is free only when no event of any run, in either clip format, has it.
    const ClipFormat other = format == ClipFormat::Avi ? ClipFormat::Mp4 : ClipFormat::Avi;
    currentStem = createUniqueFile(directory, eventStem(eventNumber, localStart), clipExtension(format),
                                   {snapshotExtension, clipExtension(other)});
    snapshot.release();
    const fs::path path = directory / (currentStem + clipExtension(format));
    if (!clip.open(path.string(), fps, frameSize))
        report("cannot write the clip " + path.string());
}

void EventFiles::write(const cv::Mat& frame) {
    clip.write(frame);
}

void EventFiles::keepSnapshot(const cv::Mat& frame) {
    snapshot = frame;
}

EventFiles::Written EventFiles::finish() {
    Written written;
    if (clip.isOpen()) {
        written.clip = currentStem + clipExtension(format);
        written.clipFrames = clip.close();
    }
    const std::string snapshotName = currentStem + snapshotExtension;
    if (!snapshot.empty() && cv::imwrite((directory / snapshotName).string(), snapshot))
        written.snapshot = snapshotName;
    else
        report("cannot write the snapshot " + (directory / snapshotName).string());
    snapshot.release();
    return written;
}

void pruneEventFiles(const fs::path& directory, unsigned long long limitBytes, const std::string& keepStem) {
    // Files by event, events in name order: the oldest first.
    std::map<std::string, std::vector<std::pair<fs::path, unsigned long long>>> events;
    unsigned long long total = 0;
    std::error_code error;
    // Not the range-for: its increment throws when the directory goes away.
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const fs::directory_entry& entry = *it;
        std::smatch match;
        const std::string name = entry.path().filename().string();
        std::error_code fileError;
        if (!std::regex_match(name, match, eventFileName) || !entry.is_regular_file(fileError)) continue;
        const unsigned long long size = entry.file_size(fileError);
        if (fileError) continue;
        events[match[1]].emplace_back(entry.path(), size);
        total += size;
    }
    for (const auto& [stem, files] : events) {
        if (total <= limitBytes) break;
        if (stem == keepStem) continue;
        for (const auto& [path, size] : files) {
            if (fs::remove(path, error)) total -= size;
        }
    }
}
