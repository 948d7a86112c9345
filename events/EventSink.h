// What follows the watcher while it runs: the events log, standard output,
// the --on-event command, a web page, a message broker.
//
// The watcher calls every sink on its detection thread, in the order the
// sinks were given, after the frame or line is final. A sink that needs
// time (a network, a disk, a child process) hands the work to a thread of
// its own and returns at once: detection never waits for a sink. A new
// sink is a new class; the event rule and the storage do not change.
#pragma once

#include "events/EventFiles.h"
#include "events/EventTracker.h"
#include "io/VideoFrame.h"

#include <opencv2/core.hpp>

#include <functional>
#include <string>

// One line of the events log, as it is written.
struct EventLine {
    enum Kind { Start, End };
    Kind kind;
    const Event& event;
    // End lines: the clip and snapshot written (file names in the output
    // directory, empty when not written). Null for start lines.
    const EventFiles::Written* files;
    // The name of the event's clip and snapshot without extension, for
    // both kinds (the clip is being written while the event runs).
    const std::string& fileStem;
    const std::string& json; // the line without its newline
};

// One processed frame.
struct WatchedFrame {
    // The frame; annotated() is BGR with the objects drawn, made on first
    // use from any thread. A sink may keep the frame (it is shared, never
    // copied) and look at it later, or never.
    const VideoFrame& frame;
    long long index; // frames read from the source before this one
    double t;        // source time, seconds
    bool eventRunning;
    // The motion mask of this frame at frame size (255 motion, 0 still),
    // made only when asked for; call it during frame() only.
    const std::function<cv::Mat()>& motionMask;
};

enum class SourceState { Running, Lost, Ended };

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void line(const EventLine& line) { (void)line; }
    virtual void frame(const WatchedFrame& frame) { (void)frame; }
    virtual void sourceState(SourceState state) { (void)state; }
};
