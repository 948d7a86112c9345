// The JSON form of the events log's lines, one object per line:
//
//   {"type":"start","event":N,"frame":F,"t":T,"time":"2026-12-07T18:15:02+01:00"}
//   {"type":"end","event":N,"startFrame":F0,"endFrame":F1,"t0":T0,"t1":T1,"time":"...",
//    "clip":"NAME.avi","clipFrames":K,"snapshot":"NAME.jpg",
//    "objects":[{"objectId":I,"firstFrame":..,"lastFrame":..,"maxPixelCount":..}],"interrupted":false}
//
// Source times are in seconds with exactly three decimals (1.500, not 1.5);
// "time" is the local wall-clock time the line was written, with the offset
// from UTC. A file that could not be written is null.
//
// An event that a crash left without its end line gets one when the watcher
// next starts on the directory, with what is known: "endFrame", "t1" and
// "objects" null, "interrupted" true and "recovered":true after it.
#pragma once

#include "events/EventFiles.h"
#include "events/EventTracker.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <string>

// ISO 8601 with the offset, such as 2026-12-07T18:15:02+01:00.
std::string isoLocalTime(std::time_t when);

nlohmann::ordered_json eventStartJson(const Event& event, std::time_t when);
nlohmann::ordered_json eventEndJson(const Event& event, std::time_t when, const EventFiles::Written& files);
nlohmann::ordered_json recoveredEndJson(const Event& event, std::time_t when, const EventFiles::Written& files);

// One line of text (without its newline) for such an object: its members in
// order through the JSON library, except the source times "t", "t0" and
// "t1", which keep their three decimals (the library writes the shortest
// form of a number, which readers of the log never saw).
std::string eventLineText(const nlohmann::ordered_json& line);
