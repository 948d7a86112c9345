#include "io/Recorder.h"

#include "io/UniqueFile.h"

#include <iostream>

namespace {

constexpr double recordingFps = 30.0;

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace

std::string recordingStem(const std::tm& localTime) {
    char formatted[80];
    std::strftime(formatted, sizeof formatted, "%d_%m_%Y_%H_%M_%S", &localTime);
    return std::string("record_") + formatted;
}

Recorder::Recorder(cv::Size frameSize) : frameSize(frameSize) {}

bool Recorder::isRecording() const {
    return clip.isOpen();
}

void Recorder::toggle() {
    if (isRecording()) stop();
    else start();
}

void Recorder::write(const cv::Mat& frame) {
    // The clip holds frames by reference and the caller goes on drawing
    // into its own; the copy keeps the recorded frame as it was.
    clip.write(frame.clone());
}

void Recorder::stop() {
    if (!clip.isOpen()) return;
    const long long frames = clip.close();
    if (!clip.failure().empty())
        std::cout << "Recording " << name << " was cut short after " << frames << " frames: " << clip.failure()
                  << std::endl;
}

void Recorder::start() {
    name = createUniqueFile(".", recordingStem(localNow()), ".avi") + ".avi";
    if (!clip.open(name, recordingFps, frameSize))
        std::cout << "Recording could not be started: " << name << " cannot be written" << std::endl;
}
