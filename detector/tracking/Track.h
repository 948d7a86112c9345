// One tracked object: the blob it last took over, in scaled pixels, and what
// tracking has learnt about its motion.
#pragma once

#include "detector/blobs/Blob.h"

#include <cstdint>

namespace motion {

struct Track {
    Blob blob;        // moved by the velocity while the track coasts
    int32_t objectId; // -1 until first reported
    float velocityX;
    float velocityY;
    int32_t directionCountX; // signed run of steps in one direction
    int32_t directionCountY;
    int32_t missCount;   // frames in a row without a blob
    float prevCentroidX; // +infinity until first corrected or coasted
    float prevCentroidY;
    float varianceX; // of the velocity estimate
    float varianceY;
};

} // namespace motion
