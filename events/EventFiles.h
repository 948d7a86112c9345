// The files an event leaves in the output directory: its clip and its
// snapshot, and the deletion of old ones when storage is limited.
//
// Both files of event N started at local time T share the name
// event_YYYYMMDD_HHMMSS_NNNN (T as year, month, day, hour, minute, second;
// N with at least four digits), so that names sort by time; when either
// file of that name exists (a clip of either format), _1, _2, ... is
// appended. Nothing is overwritten.
//
// The clip is Motion-JPEG AVI or H.264 MP4 at the given rate and frame
// size; the snapshot is a JPEG of the frame kept for it.
#pragma once

#include "io/ClipWriter.h"

#include <opencv2/core.hpp>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

class EventFiles {
public:
    // report: told of every file that cannot be written.
    EventFiles(std::filesystem::path directory, double fps, cv::Size frameSize, ClipFormat format,
               std::function<void(const std::string&)> report);

    // Chooses the names and opens the clip. A clip that cannot be written
    // is reported; the event goes on without it.
    void begin(int eventNumber, const std::tm& localStart);

    // Appends a frame to the clip (held by reference; it is not changed later).
    void write(const cv::Mat& frame);

    // Makes frame the snapshot (held by reference; it is not changed later).
    void keepSnapshot(const cv::Mat& frame);

    struct Written {
        std::string clip;     // file name; empty when the clip could not be written
        long long clipFrames = 0;
        std::string snapshot; // file name; empty when not written
    };

    // Finalises the clip (once every frame is encoded) and writes the snapshot.
    Written finish();

    // The shared name (without extension) of the files being written.
    const std::string& stem() const { return currentStem; }

private:
    std::filesystem::path directory;
    std::function<void(const std::string&)> report;
    double fps;
    cv::Size frameSize;
    ClipFormat format;
    std::string currentStem;
    ClipWriter clip;
    cv::Mat snapshot;
};

// Whether name is one EventFiles gives (a clip's or a snapshot's), and
// nothing else: the files that pruning and the web page may touch.
bool isEventFileName(const std::string& name);

// Deletes the clips and snapshots of the oldest events in directory (by
// name, which sorts by time) until the event files there total at most
// limitBytes. Never the files named keepStem, nor any other file.
void pruneEventFiles(const std::filesystem::path& directory, unsigned long long limitBytes, const std::string& keepStem);
