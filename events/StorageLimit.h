// Keeping the event files of an output directory within a number of bytes
// by deleting those of the oldest events.
//
// "Oldest" is the order in which the events ended, as the events log lists
// them, never file names or clocks: a wall clock steps back (daylight
// saving, a time server's correction, a wrong clock at boot), and names made
// from it would then sort the newest events first. Files of the event-file
// pattern that no ended event names (left by a crash, or by another
// program) go before all of them, the least recently modified first. Other
// files are never touched.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <unordered_set>

class StorageLimit {
public:
    StorageLimit(std::filesystem::path directory, unsigned long long limitBytes);

    // The files (names in the directory) of the event that ended after all
    // those added before; names of other files are ignored.
    void add(const std::string& clip, const std::string& snapshot);

    // Deletes the files of the oldest events until the event files in the
    // directory total at most the limit; never those of the event named
    // keepStem (the one that just ended), even when they alone are more.
    void prune(const std::string& keepStem);

private:
    void addStem(const std::string& fileName);

    std::filesystem::path directory;
    unsigned long long limitBytes;
    std::deque<std::string> ended; // stems, oldest first
    std::unordered_set<std::string> known;
};
