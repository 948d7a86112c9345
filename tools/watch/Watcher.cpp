#include "tools/watch/Watcher.h"

#include "io/Overlay.h"
#include "io/Shutdown.h"
#include "detector/MotionDetector.h"

#include <opencv2/imgproc.hpp>

#include <chrono>
#include <ctime>
#include <iostream>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto lostSourceLimit = std::chrono::seconds(5);

// How long the loop waits for a frame before it looks at the signals and
// the lost-source clock again.
constexpr auto frameWait = std::chrono::milliseconds(100);

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

} // namespace

Watcher::Watcher(const WatchOptions& options, MotionDetector& detector, FrameReader& reader, cv::Size frameSize,
                 const uint8_t* regionMask, EventLog& log)
    : options(options), detector(detector), reader(reader), frameSize(frameSize), regionMask(regionMask), log(log),
      commands(options.onEvent.empty() ? nullptr : std::make_unique<CommandRunner>(options.onEvent)),
      tracker(options.postSeconds), preCapture(options.preSeconds), files(options.output, reader.clipFps(), frameSize),
      progress(reader.frameCount()) {}

int Watcher::run() {
    Clock::time_point lastFrameAt = Clock::now();
    bool lost = false;
    bool fileEnded = false;
    while (!fileEnded && !stopRequested()) {
        TimedFrame frame;
        const FrameReader::Result result = reader.next(frame, frameWait);
        if (result == FrameReader::Result::Ended) {
            fileEnded = true;
        } else if (result == FrameReader::Result::Frame) {
            process(frame);
            lastFrameAt = Clock::now();
            lost = false;
        } else if (reader.live() && !lost && Clock::now() - lastFrameAt >= lostSourceLimit) {
            lost = true;
            endRunningEvent(true);
            std::cerr << "Video source lost, reopening" << std::endl;
        }
    }
    endRunningEvent(!fileEnded);
    progress.finish(framesSeen, tracker.event().number);
    return 0;
}

void Watcher::process(TimedFrame& frame) {
    ++framesSeen;
    cv::cvtColor(frame.image, grey, cv::COLOR_BGR2GRAY);
    detector.processFrame(grey.data, frameSize.width, frameSize.height, regionMask);
    const std::vector<DetectedObject> objects = detector.getObjects();
    drawObjects(frame.image, objects);
    preCapture.push(frame.image, frame.t);

    const FrameVerdict verdict = tracker.observe(frame.index, frame.t, objects);
    switch (verdict.step) {
    case FrameVerdict::Quiet: break;
    case FrameVerdict::Started: startEvent(); break;
    case FrameVerdict::Continued: files.write(frame.image); break;
    case FrameVerdict::Ended:
        files.write(frame.image);
        finishEvent();
        break;
    }
    if (verdict.newSnapshot) files.keepSnapshot(frame.image);
    progress.update(framesSeen, tracker.event().number);
}

// The clip opens with the buffered frames, the start frame the last of them.
void Watcher::startEvent() {
    const std::time_t now = std::time(nullptr);
    emit(eventStartLine(tracker.event(), now));
    files.begin(tracker.event().number, localTime(now));
    preCapture.forEach([&](const cv::Mat& buffered) { files.write(buffered); });
}

void Watcher::finishEvent() {
    const EventFiles::Written written = files.finish();
    emit(eventEndLine(tracker.event(), std::time(nullptr), written));
    if (options.maxStorageMb)
        pruneEventFiles(options.output, static_cast<unsigned long long>(*options.maxStorageMb) << 20, files.stem());
}

void Watcher::endRunningEvent(bool interrupted) {
    if (tracker.finish(interrupted)) finishEvent();
}

void Watcher::emit(const std::string& line) {
    log.append(line);
    if (commands) commands->submit(line);
}
