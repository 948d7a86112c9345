// One region of motion, in scaled pixel coordinates (box edges inclusive).
#pragma once

#include <cstdint>

namespace motion {

struct Blob {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
    int32_t pixelCount;
    int32_t intensitySum; // wraps modulo 2^32 for huge regions
    int32_t label;        // the region's group number in its frame
    float centroidX;
    float centroidY;
    float reserved;       // always 0
};

} // namespace motion
