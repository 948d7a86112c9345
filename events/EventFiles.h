// The files an event leaves in the output directory: its clip and its
// snapshot.
//
// Both files of event N started at local time T share the name
// event_YYYYMMDD_HHMMSS_NNNN (T as year, month, day, hour, minute, second;
// N with at least four digits); when either file of that name exists (a
// clip of either format), _1, _2, ... is appended. Nothing is overwritten.
//
// The clip is Motion-JPEG AVI or H.264 in fragmented MP4 at the given rate
// and frame size; the snapshot is a JPEG of the frame kept for it. What is
// written is what is reported: a clip that could not be written whole holds
// the frames a reader finds in it (or is no clip at all), and each event
// whose files fell short is reported in one line that says which file and
// why. A directory that disappeared is made again for the next files.
#pragma once

#include "io/ClipWriter.h"

#include <opencv2/core.hpp>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

class EventFiles {
public:
    // report: told of every event whose files could not be written whole.
    EventFiles(std::filesystem::path directory, cv::Size frameSize, ClipFormat format,
               std::function<void(const std::string&)> report);

    // Chooses the names and opens the clip at the rate known so far (which
    // a clip that is never finished keeps). A clip that cannot be written
    // is reported at finish(); the event goes on without it.
    void begin(int eventNumber, const std::tm& localStart, double fps);

    // Appends a frame to the clip (held by reference; it is not changed later).
    void write(const ClipFrame& frame);

    // Makes frame the snapshot (held by reference; it is not changed later).
    void keepSnapshot(const cv::Mat& frame);

    struct Written {
        std::string clip;     // file name; empty when no frame of it can be read
        long long clipFrames = 0; // the frames a reader finds in it
        std::string snapshot; // file name; empty when not written
    };

    // Finishes the clip (once every frame is encoded) to play at fps, and
    // writes the snapshot.
    Written finish(double fps);

    // The shared name (without extension) of the files being written.
    const std::string& stem() const { return currentStem; }

private:
    std::string finishClip(Written& written, double fps);
    std::string writeSnapshot(Written& written);

    std::filesystem::path directory;
    std::function<void(const std::string&)> report;
    cv::Size frameSize;
    ClipFormat format;
    int eventNumber = 0;
    std::string currentStem;
    ClipWriter clip;
    long long framesGiven = 0;
    cv::Mat snapshot;
};

// The stem of a file name EventFiles gives (event_..., without extension);
// empty for any other name: the files that pruning, repairs and the web
// page may touch.
std::string eventFileStem(const std::string& fileName);
