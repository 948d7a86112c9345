// What earlier runs left in an output directory, read from its events log
// when a watcher starts on it, and the repair of what a crash or a power
// loss left behind, before anything new is written:
//
// - a last line cut short (the log ends without its newline) is removed,
//   or completed when it is whole but for the newline;
// - every event whose start line has no end line gets its clip made
//   playable as far as its whole frames reach (or removed, when it has
//   none), and the end line the watcher then appends for it;
// - the numbers go on from the highest event number in the log, so that a
//   number names one event in that directory;
// - the files of the ended events, in the order they ended, are what the
//   storage limit deletes from, oldest first.
#pragma once

#include "events/EventFiles.h"
#include "events/EventTracker.h"

#include <filesystem>
#include <string>
#include <vector>

struct EventHistory {
    int lastNumber = 0; // the highest event number in the log; 0 for none
    struct EndedFiles {
        std::string clip, snapshot; // names in the directory; empty for null
    };
    std::vector<EndedFiles> ended; // in the order of the end lines

    struct Interrupted {
        Event event; // number, start frame and time; interrupted and recovered
        EventFiles::Written files;
    };
    std::vector<Interrupted> interrupted; // by number

    // What was repaired and what could not be, for one line of report;
    // empty when the directory needed nothing.
    std::vector<std::string> repairs;
};

// Reads directory/events.jsonl (none: an empty history), mends its last
// line and repairs the files of the events without an end line.
EventHistory recoverEventHistory(const std::filesystem::path& directory);
