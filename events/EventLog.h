// The events log: one JSON line when an event starts and one when it ends,
// appended to events.jsonl in the output directory and printed on stdout.
//
//   {"type":"start","event":N,"frame":F,"t":T,"time":"2026-12-07T18:15:02+01:00"}
//   {"type":"end","event":N,"startFrame":F0,"endFrame":F1,"t0":T0,"t1":T1,"time":"...",
//    "clip":"NAME.avi","clipFrames":K,"snapshot":"NAME.jpg",
//    "objects":[{"objectId":I,"firstFrame":..,"lastFrame":..,"maxPixelCount":..}],"interrupted":false}
//
// Source times are in seconds with millisecond digits; "time" is the local
// wall-clock time the line was written, with the offset from UTC. A file
// that could not be written is null.
#pragma once

#include "events/EventFiles.h"
#include "events/EventTracker.h"

#include <cstdio>
#include <ctime>
#include <string>

// ISO 8601 with the offset, such as 2026-12-07T18:15:02+01:00.
std::string isoLocalTime(std::time_t when);

std::string eventStartLine(const Event& event, std::time_t when);
std::string eventEndLine(const Event& event, std::time_t when, const EventFiles::Written& files);

class EventLog {
public:
    // Opens (creating when missing) the log for appending; false when it
    // cannot be written.
    bool open(const std::string& path);
    ~EventLog();

    // Writes the line (without its newline) to the log and to stdout, each
    // flushed at once so that no finished event is lost with the process.
    void append(const std::string& line);

private:
    std::FILE* file = nullptr;
};
