#include "events/EventLog.h"

#include <iostream>

namespace {

std::string seconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", t);
    return text;
}

// The file names are ours (letters, digits, '_' and '.'): nothing to escape.
std::string fileName(const std::string& name) {
    return name.empty() ? "null" : "\"" + name + "\"";
}

std::string objectList(const Event& event) {
    std::string list = "[";
    for (const auto& [id, o] : event.objects) {
        if (list.size() > 1) list += ",";
        list += "{\"objectId\":" + std::to_string(id) + ",\"firstFrame\":" + std::to_string(o.firstFrame) +
                ",\"lastFrame\":" + std::to_string(o.lastFrame) + ",\"maxPixelCount\":" + std::to_string(o.maxPixelCount) +
                "}";
    }
    return list + "]";
}

} // namespace

std::string isoLocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime gives +0100; the extended format of the date wants +01:00.
    std::string iso = text;
    iso.insert(iso.size() - 2, ":");
    return iso;
}

std::string eventStartLine(const Event& event, std::time_t when) {
    return "{\"type\":\"start\",\"event\":" + std::to_string(event.number) + ",\"frame\":" +
           std::to_string(event.startFrame) + ",\"t\":" + seconds(event.t0) + ",\"time\":\"" + isoLocalTime(when) + "\"}";
}

std::string eventEndLine(const Event& event, std::time_t when, const EventFiles::Written& files) {
    return "{\"type\":\"end\",\"event\":" + std::to_string(event.number) + ",\"startFrame\":" +
           std::to_string(event.startFrame) + ",\"endFrame\":" + std::to_string(event.endFrame) + ",\"t0\":" +
           seconds(event.t0) + ",\"t1\":" + seconds(event.t1) + ",\"time\":\"" + isoLocalTime(when) +
           "\",\"clip\":" + fileName(files.clip) + ",\"clipFrames\":" + std::to_string(files.clipFrames) +
           ",\"snapshot\":" + fileName(files.snapshot) + ",\"objects\":" + objectList(event) +
           ",\"interrupted\":" + (event.interrupted ? "true" : "false") + "}";
}

bool EventLog::open(const std::string& path) {
    file = std::fopen(path.c_str(), "a");
    return file != nullptr;
}

EventLog::~EventLog() {
    if (file != nullptr) std::fclose(file);
}

void EventLog::append(const std::string& line) {
    if (std::fprintf(file, "%s\n", line.c_str()) < 0 || std::fflush(file) != 0)
        std::cerr << "motion_watch: cannot append to the events log" << std::endl;
    std::cout << line << std::endl;
}
