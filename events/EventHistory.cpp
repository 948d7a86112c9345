#include "events/EventHistory.h"

#include "io/FragmentedMp4Writer.h"
#include "io/MjpegAvi.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string fileName(const json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

// "event_YYYYMMDD_HHMMSS_NNNN" of a start line: its "time" is the local
// time the clip was named after, written in the same second.
std::string stemOfStart(const json& start) {
    const std::string time = fileName(start.value("time", json()));
    if (time.size() < 19) return "";
    char number[16];
    std::snprintf(number, sizeof number, "%04d", start.value("event", 0));
    return "event_" + time.substr(0, 4) + time.substr(5, 2) + time.substr(8, 2) + "_" + time.substr(11, 2) +
           time.substr(14, 2) + time.substr(17, 2) + "_" + number;
}

// The last file stem(_k)extension that no end line names ("" when none).
std::string unclaimedFile(const fs::path& directory, const std::string& stem, const std::string& extension,
                          const std::map<std::string, bool>& named) {
    std::string found;
    std::error_code error;
    for (int suffix = 0; suffix < 1000; ++suffix) {
        const std::string name = (suffix == 0 ? stem : stem + "_" + std::to_string(suffix)) + extension;
        if (!fs::exists(directory / name, error)) {
            if (suffix > 0) break;
            continue;
        }
        if (named.count(name) == 0) found = name;
    }
    return found;
}

// A clip of either format made to play as far as its whole frames reach.
long long repairClip(const fs::path& path, std::string& error) {
    return path.extension() == ".mp4" ? repairFragmentedMp4(path.string(), error)
                                      : repairMjpegAvi(path.string(), error);
}

bool isWholeJpeg(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return bytes.size() >= 4 && bytes.compare(0, 2, "\xff\xd8") == 0 && bytes.compare(bytes.size() - 2, 2, "\xff\xd9") == 0;
}

// Reads the log's text; a last line cut short is removed (or, when whole
// but for its newline, completed) in the file as well.
std::string readMendedLog(const fs::path& log, std::vector<std::string>& repairs) {
    std::ifstream in(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.empty() || text.back() == '\n') return text;
    const size_t lineStart = text.find_last_of('\n') + 1; // 0 when it is the only line
    const bool whole = json::accept(text.substr(lineStart));
    if (whole) {
        std::ofstream(log, std::ios::binary | std::ios::app) << '\n';
        text += '\n';
        repairs.push_back("the log's last line completed with its newline");
    } else if (truncate(log.c_str(), off_t(lineStart)) == 0) {
        text.resize(lineStart);
        repairs.push_back("a line cut short removed from the end of the log");
    }
    return text;
}

class Recovery {
public:
    explicit Recovery(fs::path directory) : directory(std::move(directory)) {}

    EventHistory run() {
        const std::string text = readMendedLog(directory / "events.jsonl", history.repairs);
        size_t begin = 0;
        for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
            take(text.substr(begin, end - begin));
        for (const auto& [number, start] : open) repair(start);
        return std::move(history);
    }

private:
    void take(const std::string& text) {
        const json line = json::parse(text, nullptr, false);
        if (!line.is_object() || !line.value("event", json()).is_number_integer()) return; // not ours to mend
        const int number = line["event"].get<int>();
        history.lastNumber = std::max(history.lastNumber, number);
        const std::string type = fileName(line.value("type", json()));
        if (type == "start") open[number] = line;
        if (type != "end") return;
        open.erase(number);
        const EventHistory::EndedFiles files{fileName(line.value("clip", json())),
                                             fileName(line.value("snapshot", json()))};
        named[files.clip] = named[files.snapshot] = true;
        history.ended.push_back(files);
    }

    void repair(const json& start) {
        EventHistory::Interrupted event;
        event.event.number = start["event"].get<int>();
        event.event.startFrame = start.value("frame", 0LL);
        event.event.t0 = start.value("t", 0.0);
        event.event.interrupted = event.event.recovered = true;
        const std::string stem = stemOfStart(start);
        std::string what = "event " + std::to_string(event.event.number) + " ended";
        std::string clip;
        for (const char* extension : {".avi", ".mp4"})
            if (clip.empty() && !stem.empty()) clip = unclaimedFile(directory, stem, extension, named);
        if (!clip.empty()) {
            std::string error;
            const long long frames = repairClip(directory / clip, error);
            if (frames > 0) {
                event.files.clip = clip;
                event.files.clipFrames = frames;
            }
            what += frames > 0 ? " with " + std::to_string(frames) + " frames in its clip"
                    : frames == 0 ? ", its clip held no whole frame"
                                  : ", its clip " + clip + " could not be repaired (" + error + ")";
        } else {
            what += " without a clip";
        }
        // The snapshot is written last, under the clip's name.
        const std::string snapshot = clip.empty() ? "" : clip.substr(0, clip.size() - 4) + ".jpg";
        if (!snapshot.empty() && named.count(snapshot) == 0 && isWholeJpeg(directory / snapshot))
            event.files.snapshot = snapshot;
        history.repairs.push_back(what);
        history.interrupted.push_back(event);
    }

    const fs::path directory;
    EventHistory history;
    std::map<int, json> open;          // start lines without an end line yet, by number
    std::map<std::string, bool> named; // files that end lines name
};

} // namespace

EventHistory recoverEventHistory(const fs::path& directory) {
    return Recovery(directory).run();
}
