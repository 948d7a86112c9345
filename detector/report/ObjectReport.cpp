#include "detector/report/ObjectReport.h"

#include "detector/tracking/IntArithmetic.h"

#include <cstdlib>
#include <limits>

namespace motion {

namespace {

bool qualifies(const Track& track, int32_t detectionCriterion) {
    const bool consistent = track.objectId > 0 || std::abs(track.directionCountX) >= detectionCriterion ||
                            std::abs(track.directionCountY) >= detectionCriterion;
    return consistent && track.missCount == 0;
}

} // namespace

DetectedObject toFullFrame(const Track& track, int32_t factor) {
    const Blob& b = track.blob;
    const int32_t area = factor * factor;
    const float f = static_cast<float>(factor);
    return DetectedObject{wrappingMultiply(b.x0, factor),
                          wrappingMultiply(b.y0, factor),
                          wrappingMultiply(b.x1, factor),
                          wrappingMultiply(b.y1, factor),
                          wrappingMultiply(b.pixelCount, area),
                          wrappingMultiply(b.intensitySum, area),
                          b.label,
                          b.centroidX * f,
                          b.centroidY * f,
                          b.reserved,
                          track.objectId,
                          track.velocityX * f,
                          track.velocityY * f};
}

std::vector<DetectedObject> ObjectReport::report(std::vector<Track>& tracks, int32_t detectionCriterion,
                                                 int32_t scaleFactor) {
    std::vector<DetectedObject> objects;
    for (Track& track : tracks) {
        if (!qualifies(track, detectionCriterion)) continue;
        if (track.objectId < 0) {
            lastIssued = lastIssued == std::numeric_limits<int32_t>::max() ? 1 : lastIssued + 1;
            track.objectId = lastIssued;
        }
        objects.push_back(toFullFrame(track, scaleFactor));
    }
    return objects;
}

} // namespace motion
