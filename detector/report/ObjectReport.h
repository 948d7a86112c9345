// The object report stage: the tracks that qualify as objects, in
// full-frame units. Handing out identifiers here is what makes a track
// "reported", which tracking reads back in the next frame.
#pragma once

#include "detector/MotionDetector.h"
#include "detector/tracking/Track.h"

#include <cstdint>
#include <vector>

namespace motion {

class ObjectReport {
public:
    // Identifiers continue after lastId (after the largest int32 they
    // restart at 1).
    explicit ObjectReport(int32_t lastId = 0) : lastIssued(lastId) {}

    // The qualifying tracks as objects, scaled by scaleFactor; a qualifying
    // track without an identifier gets the next one. A track qualifies when
    // it was seen this frame and is either reported already or has taken
    // detectionCriterion steps in one direction on either axis.
    std::vector<DetectedObject> report(std::vector<Track>& tracks, int32_t detectionCriterion, int32_t scaleFactor);

    int32_t lastId() const { return lastIssued; }
    // Identifiers restart at 1.
    void clear() { lastIssued = 0; }

private:
    int32_t lastIssued;
};

// A track's blob and motion in full-frame units: integers wrap rather than
// overflow, floats are multiplied by the factor as a float.
DetectedObject toFullFrame(const Track& track, int32_t factor);

} // namespace motion
