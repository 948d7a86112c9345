#include "detector/scaling/FrameScaling.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace motion {

namespace {

// Truncating mean of each factor x factor block. The factor is a template
// argument so that the block sum is fully unrolled and the division by a
// constant becomes a multiply or a shift.
template <int factor>
void downscaleBlocks(const uint8_t* frame, int frameWidth, uint8_t* dst, int dstWidth, int dstHeight) {
    for (int by = 0; by < dstHeight; ++by) {
        const uint8_t* top = frame + size_t(by) * factor * frameWidth;
        uint8_t* out = dst + size_t(by) * dstWidth;
        for (int bx = 0; bx < dstWidth; ++bx) {
            uint32_t sum = 0;
            for (int dy = 0; dy < factor; ++dy)
                for (int dx = 0; dx < factor; ++dx) sum += top[size_t(dy) * frameWidth + bx * factor + dx];
            out[bx] = static_cast<uint8_t>(sum / (factor * factor));
        }
    }
}

} // namespace

bool acceptsFrameSize(int width, int height, int factor) {
    if (width < minFrameSide || width > maxFrameSide) return false;
    if (height < minFrameSide || height > maxFrameSide) return false;
    return width % factor == 0 && height % factor == 0;
}

void downscale(const uint8_t* frame, int width, int height, int factor, uint8_t* dst) {
    const int scaledWidth = width / factor;
    const int scaledHeight = height / factor;
    switch (factor) {
    case 1: std::memcpy(dst, frame, size_t(width) * size_t(height)); break;
    case 2: downscaleBlocks<2>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 3: downscaleBlocks<3>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 4: downscaleBlocks<4>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 5: downscaleBlocks<5>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 6: downscaleBlocks<6>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 7: downscaleBlocks<7>(frame, width, dst, scaledWidth, scaledHeight); break;
    case 8: downscaleBlocks<8>(frame, width, dst, scaledWidth, scaledHeight); break;
    }
}

void enlargeMask(const uint8_t* mask, int scaledWidth, int scaledHeight, int factor, int width, int height,
                 uint8_t* dst) {
    if (factor == 1) {
        std::memcpy(dst, mask, size_t(width) * size_t(height));
        return;
    }
    const int coveredWidth = scaledWidth * factor;
    const int coveredHeight = scaledHeight * factor;
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst + size_t(y) * width;
        if (y < coveredHeight) {
            const uint8_t* row = mask + size_t(y / factor) * scaledWidth;
            for (int sx = 0; sx < scaledWidth; ++sx) std::fill_n(out + sx * factor, factor, row[sx]);
        }
        const int from = y < coveredHeight ? coveredWidth : 0;
        std::fill(out + from, out + width, uint8_t{0});
    }
}

} // namespace motion
