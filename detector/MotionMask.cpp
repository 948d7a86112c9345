// Full-size motion mask output.
#include "detector/MotionDetector.h"

#include <algorithm>
#include <cstring>

// Each scaled pixel is repeated over its factor x factor block. After a scale
// change to a factor that does not divide the frame, the frame pixels outside
// whole blocks (a strip at the right and at the bottom) have no scaled pixel
// and are written as background.
void MotionDetector::getMotionMask(uint8_t* dst) {
    if (width == 0 || height == 0) return;
    if (scaleFactor == 1) {
        std::memcpy(dst, mask.get(), size_t(width) * size_t(height));
        return;
    }
    const int f = scaleFactor;
    const int coveredWidth = scaledWidth * f;
    const int coveredHeight = scaledHeight * f;
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst + size_t(y) * width;
        if (y < coveredHeight) {
            const uint8_t* row = mask.get() + size_t(y / f) * scaledWidth;
            for (int sx = 0; sx < scaledWidth; ++sx) std::fill_n(out + sx * f, f, row[sx]);
        }
        const int from = y < coveredHeight ? coveredWidth : 0;
        std::fill(out + from, out + width, uint8_t{0});
    }
}
