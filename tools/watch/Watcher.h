// The watcher's loop: frames in, events, clips, snapshots and log lines out.
//
// Each frame is converted to grey and processed exactly as the demo does;
// the reported objects are drawn onto it as the demo draws them, and it
// joins the pre-capture buffer. The event rule (EventTracker) decides when
// an event starts and ends; a starting event's clip begins with the
// buffered frames, every later frame of the event is appended, and the end
// frame closes it. The loop runs until the file ends or a stop signal
// arrives; a live source that delivers nothing for 5 seconds ends the
// running event as interrupted while the reader opens it again.
#pragma once

#include "events/CommandRunner.h"
#include "events/EventFiles.h"
#include "events/EventLog.h"
#include "events/EventTracker.h"
#include "io/FrameReader.h"
#include "events/PreCaptureBuffer.h"
#include "tools/watch/ProgressLine.h"
#include "tools/watch/WatchOptions.h"

#include <cstdint>
#include <filesystem>
#include <memory>

class MotionDetector;

class Watcher {
public:
    // regionMask: the detector's region mask for the source's frame size
    // (one byte per scaled pixel), or null to watch everything.
    Watcher(const WatchOptions& options, MotionDetector& detector, FrameReader& reader, cv::Size frameSize,
            const uint8_t* regionMask, EventLog& log);

    // Runs until the file ends or a stop signal; returns the exit status.
    int run();

private:
    void process(TimedFrame& frame);
    void startEvent();
    void finishEvent();
    void endRunningEvent(bool interrupted);
    void emit(const std::string& line);

    const WatchOptions& options;
    MotionDetector& detector;
    FrameReader& reader;
    const cv::Size frameSize;
    const uint8_t* regionMask;
    EventLog& log;
    std::unique_ptr<CommandRunner> commands; // null without --on-event
    EventTracker tracker;
    PreCaptureBuffer preCapture;
    EventFiles files;
    ProgressLine progress;
    cv::Mat grey;
    long long framesSeen = 0;
};
