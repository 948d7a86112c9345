// Frame intake: size checks, geometry, block-mean downscaling, then the
// per-frame pipeline.
#include "detector/MotionDetector.h"

#include <cstring>

namespace {

constexpr int minFrameSide = 32;
constexpr int maxFrameSide = 8192;

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

bool MotionDetector::processFrame(const uint8_t* frame, int frameWidth, int frameHeight, const uint8_t* regionMask) {
    if (frameWidth < minFrameSide || frameWidth > maxFrameSide) return false;
    if (frameHeight < minFrameSide || frameHeight > maxFrameSide) return false;
    if (frameWidth % scaleFactor != 0 || frameHeight % scaleFactor != 0) return false;

    if (frameWidth != width || frameHeight != height) {
        height = frameHeight;
        width = frameWidth;
        allocateGeometry(frameWidth, frameHeight, scaleFactor);
    }
    downscale(frame);
    if (numThreads == 1)
        updateBackground(scaledFrame.get(), regionMask);
    else
        updateBackgroundParallel(scaledFrame.get(), regionMask);
    extractBlobs();
    updateTracks();
    return true;
}

void MotionDetector::downscale(const uint8_t* frame) {
    uint8_t* dst = scaledFrame.get();
    switch (scaleFactor) {
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
