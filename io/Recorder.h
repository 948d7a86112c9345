// Recording of the annotated video into Motion-JPEG AVI files.
//
// Each recording goes to record_DD_MM_YYYY_HH_MM_SS.avi in the working
// directory, named from the local time at its start, at 30 frames per second
// whatever the source's rate. A name already taken (a second recording
// within the same second) gets a numeric suffix, so no file is overwritten.
// Frames are encoded on a thread of their own, so that recording does not
// slow the live picture down; stopping waits for every frame handed over.
#pragma once

#include "io/ClipWriter.h"

#include <opencv2/core.hpp>

#include <ctime>
#include <string>

// "record_" + localTime as %d_%m_%Y_%H_%M_%S; the file gets the first free
// of that name, "_1", "_2", ... with ".avi".
std::string recordingStem(const std::tm& localTime);

class Recorder {
public:
    explicit Recorder(cv::Size frameSize);

    bool isRecording() const;

    // Starts a recording when none runs, otherwise finalises the running one.
    // A file that cannot be written prints one console line and leaves the
    // recorder not recording; one that the disk refused part way prints one
    // line when it is finalised (it holds the frames up to there).
    void toggle();

    // Appends one colour frame of the recorder's frame size.
    void write(const cv::Mat& frame);

    // Finalises a running recording; nothing when none runs.
    void stop();

private:
    void start();

    cv::Size frameSize;
    std::string name; // of the recording last started
    ClipWriter clip;  // recording exactly while open
};
