// Blobs and tracks for the tracking tests, built field by field.
#pragma once

#include "detector/tracking/Track.h"

#include <limits>

namespace motion {

// A blob with a box of w x h pixels centred on (cx, cy), count pixels of mean
// grey 100.
inline Blob blobAt(float cx, float cy, int w = 10, int h = 10, int count = 100) {
    Blob b{};
    b.x0 = static_cast<int>(cx) - w / 2;
    b.y0 = static_cast<int>(cy) - h / 2;
    b.x1 = b.x0 + w - 1;
    b.y1 = b.y0 + h - 1;
    b.pixelCount = count;
    b.intensitySum = count * 100;
    b.centroidX = cx;
    b.centroidY = cy;
    return b;
}

// A never corrected track on that blob, as founding leaves it with the
// default maximum velocity of 20.
inline Track trackOn(const Blob& b) {
    Track t{};
    t.blob = b;
    t.objectId = -1;
    t.prevCentroidX = t.prevCentroidY = std::numeric_limits<float>::infinity();
    t.varianceX = t.varianceY = 3600.0f;
    return t;
}

// The same track after it has moved by (dx, dy) in its last frame.
inline Track movingTrackOn(const Blob& b, float dx, float dy) {
    Track t = trackOn(b);
    t.prevCentroidX = b.centroidX - dx;
    t.prevCentroidY = b.centroidY - dy;
    return t;
}

} // namespace motion
