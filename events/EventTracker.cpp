#include "events/EventTracker.h"

#include "io/SourceTime.h"

EventTracker::EventTracker(double postSeconds) : postSeconds(postSeconds) {}

FrameVerdict EventTracker::observe(long long frame, double t, const std::vector<DetectedObject>& objects) {
    lastFrame = frame;
    lastT = t;
    FrameVerdict verdict;
    if (!objects.empty()) {
        verdict.step = isRunning ? FrameVerdict::Continued : FrameVerdict::Started;
        if (!isRunning) start(frame, t);
        verdict.newSnapshot = record(frame, t, objects);
    } else if (isRunning) {
        const bool quietLongEnough = atLeastApart(t, lastObjectT, postSeconds);
        verdict.step = quietLongEnough ? FrameVerdict::Ended : FrameVerdict::Continued;
        if (quietLongEnough) end(frame, t, false);
    }
    return verdict;
}

bool EventTracker::finish(bool interrupted) {
    if (!isRunning) return false;
    end(lastFrame, lastT, interrupted);
    return true;
}

void EventTracker::start(long long frame, double t) {
    isRunning = true;
    current = Event{};
    current.number = ++eventCount;
    current.startFrame = frame;
    current.t0 = t;
}

bool EventTracker::record(long long frame, double t, const std::vector<DetectedObject>& objects) {
    lastObjectT = t;
    for (const DetectedObject& o : objects) {
        const auto [entry, isNew] = current.objects.try_emplace(o.objectId);
        EventObject& summary = entry->second;
        if (isNew) summary.firstFrame = frame;
        summary.lastFrame = frame;
        if (isNew || o.pixelCount > summary.maxPixelCount) summary.maxPixelCount = o.pixelCount;
    }
    if (objects.size() <= current.mostObjects) return false;
    current.mostObjects = objects.size();
    return true;
}

void EventTracker::end(long long frame, double t, bool interrupted) {
    isRunning = false;
    current.endFrame = frame;
    current.t1 = t;
    current.interrupted = interrupted;
}
