// Recording of the annotated video into Motion-JPEG AVI files.
//
// Each recording goes to record_DD_MM_YYYY_HH_MM_SS.avi in the working
// directory, named from the local time at its start, at 30 frames per second
// whatever the source's rate. A name already taken (a second recording
// within the same second) gets a numeric suffix, so no file is overwritten.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <ctime>
#include <functional>
#include <string>

// "record_" + localTime as %d_%m_%Y_%H_%M_%S + ".avi"; when exists() says
// that name is taken, the first free of "record_..._1.avi", "_2", ...
std::string recordingFileName(const std::tm& localTime, const std::function<bool(const std::string&)>& exists);

class Recorder {
public:
    explicit Recorder(cv::Size frameSize);

    bool isRecording() const;

    // Starts a recording when none runs, otherwise finalises the running one.
    // A file that cannot be written prints one console line and leaves the
    // recorder not recording.
    void toggle();

    // Appends one colour frame of the recorder's frame size.
    void write(const cv::Mat& frame);

    // Finalises a running recording; nothing when none runs.
    void stop();

private:
    void start();

    cv::Size frameSize;
    cv::VideoWriter writer; // recording exactly while open
};
