// The event rule: when motion starts, goes on and ends.
//
// An event starts at the first frame with at least one reported object. Each
// frame with an object keeps it going; it ends at the first frame without
// objects whose time is at least the post time after the last frame with
// one. That end frame belongs to the event. A source that ends, a stop
// signal or a lost live source ends a running event at the last frame seen.
#pragma once

#include "detector/MotionDetector.h"

#include <cstddef>
#include <map>
#include <vector>

// What one object did within an event.
struct EventObject {
    long long firstFrame = 0;
    long long lastFrame = 0;
    int maxPixelCount = 0;
};

struct Event {
    int number = 0;            // on from the highest in the output directory's log (1 in a new one)
    long long startFrame = 0;
    long long endFrame = 0;    // the last frame that belongs to the event
    double t0 = 0.0;           // source time of the start frame, seconds
    double t1 = 0.0;           // source time of the end frame
    std::map<int, EventObject> objects; // by identifier
    size_t mostObjects = 0;    // on the snapshot frame
    bool interrupted = false;  // ended by a signal or a lost source
    // Ended by the repair after a crash: what happened after its start is
    // not known (its end, its objects), only what its clip holds.
    bool recovered = false;
};

// What a frame meant for the event.
struct FrameVerdict {
    enum Step { Quiet, Started, Continued, Ended } step = Quiet;
    bool newSnapshot = false; // this frame has more objects than any before in the event
};

class EventTracker {
public:
    explicit EventTracker(double postSeconds);

    // Feeds the next frame (index and source time ascending). After Ended,
    // event() holds the finished event until the next frame.
    FrameVerdict observe(long long frame, double t, const std::vector<DetectedObject>& objects);

    // Ends a running event at the last frame observed; false when none runs.
    bool finish(bool interrupted);

    // The next event gets number lastNumber + 1: the numbers of an output
    // directory's log go on from run to run.
    void continueNumbering(int lastNumber) { eventCount = lastNumber; }

    bool running() const { return isRunning; }
    const Event& event() const { return current; }

private:
    void start(long long frame, double t);
    bool record(long long frame, double t, const std::vector<DetectedObject>& objects);
    void end(long long frame, double t, bool interrupted);

    double postSeconds;
    bool isRunning = false;
    int eventCount = 0;
    Event current;
    double lastObjectT = 0.0;
    long long lastFrame = 0;
    double lastT = 0.0;
};
