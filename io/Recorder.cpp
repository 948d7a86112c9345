#include "io/Recorder.h"

#include <filesystem>
#include <iostream>

namespace {

constexpr double recordingFps = 30.0;

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

bool fileExists(const std::string& name) {
    std::error_code ignored;
    return std::filesystem::exists(name, ignored);
}

} // namespace

std::string recordingFileName(const std::tm& localTime, const std::function<bool(const std::string&)>& exists) {
    char formatted[80];
    std::strftime(formatted, sizeof formatted, "%d_%m_%Y_%H_%M_%S", &localTime);
    const std::string stem = std::string("record_") + formatted;
    std::string name = stem + ".avi";
    for (int suffix = 1; exists(name); ++suffix) name = stem + "_" + std::to_string(suffix) + ".avi";
    return name;
}

Recorder::Recorder(cv::Size frameSize) : frameSize(frameSize) {}

bool Recorder::isRecording() const {
    return writer.isOpened();
}

void Recorder::toggle() {
    if (isRecording()) stop();
    else start();
}

void Recorder::write(const cv::Mat& frame) {
    writer.write(frame);
}

void Recorder::stop() {
    writer.release();
}

void Recorder::start() {
    const std::string name = recordingFileName(localNow(), fileExists);
    const int fourcc = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    if (!writer.open(name, fourcc, recordingFps, frameSize, true))
        std::cout << "Recording could not be started: " << name << " cannot be written" << std::endl;
}
