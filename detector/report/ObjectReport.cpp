// Tracks that qualify as objects, in full-frame units. Handing out
// identifiers here is what makes a track "reported", which tracking reads
// back in the next frame.
#include "detector/MotionDetector.h"
#include "tracking/IntArithmetic.h"

#include <cstdlib>
#include <limits>

namespace {

bool qualifies(const Track& track, int32_t detectionCriterion) {
    const bool consistent = track.objectId > 0 || std::abs(track.directionCountX) >= detectionCriterion ||
                            std::abs(track.directionCountY) >= detectionCriterion;
    return consistent && track.missCount == 0;
}

// Scaled coordinates back to full-frame units: integers wrap rather than
// overflow, floats are multiplied by the factor as a float.
DetectedObject toFullFrame(const Track& t, int32_t factor) {
    const int32_t area = factor * factor;
    const float f = static_cast<float>(factor);
    return DetectedObject{wrappingMultiply(t.x0, factor),
                          wrappingMultiply(t.y0, factor),
                          wrappingMultiply(t.x1, factor),
                          wrappingMultiply(t.y1, factor),
                          wrappingMultiply(t.pixelCount, area),
                          wrappingMultiply(t.intensitySum, area),
                          t.label,
                          t.centroidX * f,
                          t.centroidY * f,
                          t.reserved,
                          t.objectId,
                          t.velocityX * f,
                          t.velocityY * f};
}

} // namespace

std::vector<DetectedObject> MotionDetector::getObjects() {
    std::vector<DetectedObject> objects;
    for (Track& track : tracks) {
        if (!qualifies(track, trackDetectionCriterion)) continue;
        if (track.objectId < 0) {
            nextObjectId = nextObjectId == std::numeric_limits<int32_t>::max() ? 1 : nextObjectId + 1;
            track.objectId = nextObjectId;
        }
        objects.push_back(toFullFrame(track, scaleFactor));
    }
    return objects;
}
