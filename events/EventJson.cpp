#include "events/EventJson.h"

#include <cstdio>

using nlohmann::ordered_json;

namespace {

bool isSourceTime(const std::string& key) {
    return key == "t" || key == "t0" || key == "t1";
}

std::string threeDecimals(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// A file that was not written is null.
ordered_json fileName(const std::string& name) {
    return name.empty() ? ordered_json(nullptr) : ordered_json(name);
}

ordered_json objectList(const Event& event) {
    ordered_json list = ordered_json::array();
    for (const auto& [id, o] : event.objects)
        list.push_back({{"objectId", id},
                        {"firstFrame", o.firstFrame},
                        {"lastFrame", o.lastFrame},
                        {"maxPixelCount", o.maxPixelCount}});
    return list;
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

ordered_json eventStartJson(const Event& event, std::time_t when) {
    return {{"type", "start"},
            {"event", event.number},
            {"frame", event.startFrame},
            {"t", event.t0},
            {"time", isoLocalTime(when)}};
}

ordered_json eventEndJson(const Event& event, std::time_t when, const EventFiles::Written& files) {
    return {{"type", "end"},
            {"event", event.number},
            {"startFrame", event.startFrame},
            {"endFrame", event.endFrame},
            {"t0", event.t0},
            {"t1", event.t1},
            {"time", isoLocalTime(when)},
            {"clip", fileName(files.clip)},
            {"clipFrames", files.clipFrames},
            {"snapshot", fileName(files.snapshot)},
            {"objects", objectList(event)},
            {"interrupted", event.interrupted}};
}

ordered_json recoveredEndJson(const Event& event, std::time_t when, const EventFiles::Written& files) {
    ordered_json line = eventEndJson(event, when, files);
    for (const char* unknown : {"endFrame", "t1", "objects"}) line[unknown] = nullptr;
    line["recovered"] = true;
    return line;
}

std::string eventLineText(const ordered_json& line) {
    std::string text = "{";
    for (const auto& [key, value] : line.items()) {
        if (text.size() > 1) text += ",";
        text += ordered_json(key).dump() + ":";
        text += isSourceTime(key) && value.is_number() ? threeDecimals(value.get<double>()) : value.dump();
    }
    return text + "}";
}
