// The two sinks every watcher has: the events log file and standard output.
// Each line is written and flushed at once, so that no finished event is
// lost with the process.
#pragma once

#include "events/EventSink.h"

#include <cstdio>
#include <functional>
#include <string>

// Appends every line to a file (events.jsonl in the output directory).
class EventLogFile : public EventSink {
public:
    explicit EventLogFile(std::function<void(const std::string&)> report) : report(std::move(report)) {}
    ~EventLogFile() override;
    EventLogFile(const EventLogFile&) = delete;
    EventLogFile& operator=(const EventLogFile&) = delete;

    // Opens (creating when missing) the log for appending; false when it
    // cannot be written.
    bool open(const std::string& path);

    void line(const EventLine& line) override;

private:
    std::function<void(const std::string&)> report;
    std::FILE* file = nullptr;
};

// Prints every line on standard output.
class StandardOutputLines : public EventSink {
public:
    void line(const EventLine& line) override;
};
