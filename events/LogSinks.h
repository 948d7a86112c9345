// The two sinks every watcher has: the events log file and standard output.
// Each line is written at once, so that no finished event is lost with the
// process.
#pragma once

#include "events/EventSink.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include <sys/types.h>

// Appends every line to a file (events.jsonl in the output directory), and
// keeps it whole through whatever the disk and the people around it do.
//
// A line goes into the file whole or not at all: it is written with one
// call, flushed to the disk, and whatever part of it a failing disk took is
// cut off again. A line that cannot be written waits, in order, with those
// after it, and goes in as soon as writing works again: tried with every new
// line and once a second while frames come. Beyond 10,000 waiting lines the
// oldest are dropped. Before each write the log checks that the path still
// names its file: when the file or the whole directory was deleted or
// replaced, the directory is created again and the log goes on in a new
// file. Each trouble is reported once when it starts (and once when the
// waiting lines are in), never per line.
class EventLogFile : public EventSink {
public:
    explicit EventLogFile(std::function<void(const std::string&)> report) : report(std::move(report)) {}
    // Tries the waiting lines once more; reports those that never made it.
    ~EventLogFile() override;
    EventLogFile(const EventLogFile&) = delete;
    EventLogFile& operator=(const EventLogFile&) = delete;

    // Opens (creating when missing) the log for appending; false when it
    // cannot be written, or when another watcher holds it (inUse()): the
    // repair at start would take that watcher's running event for a
    // crash's.
    bool open(const std::string& path);
    bool inUse() const { return heldByOther; }

    void line(const EventLine& line) override;
    void frame(const WatchedFrame& frame) override;

    static constexpr size_t maxWaiting = 10000;

private:
    bool openFile();
    bool stillOurs() const;
    void reopen();
    bool append(const std::string& text);
    void writeWaiting();

    const std::function<void(const std::string&)> report;
    std::string path;
    int fd = -1;
    bool heldByOther = false;
    dev_t directoryDevice = 0;
    ino_t directoryInode = 0;
    off_t cutTo = -1; // a line part-written that could not be cut off yet
    std::deque<std::string> waiting; // with their newlines
    bool failing = false;            // since the last line that went in
    bool dropping = false;
    std::chrono::steady_clock::time_point lastTry;
};

// Prints every line on standard output.
class StandardOutputLines : public EventSink {
public:
    void line(const EventLine& line) override;
};
