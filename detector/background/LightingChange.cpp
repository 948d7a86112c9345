// Relearning the background when the light changes at once (a lamp, a cloud,
// a camera's exposure): most of the picture then stops fitting its models,
// and learning the new light at the usual rate would show it as motion for
// many frames, hiding every object meanwhile.
#include "detector/background/BackgroundModel.h"

#include "detector/background/PixelModel.h"

namespace motion {

namespace {

// A grid has at most 8192 x 8192 pixels, so 32 bits hold the count; the
// narrower sum lets the compiler count many bytes per instruction.
int64_t countNonZero(const uint8_t* bytes, int64_t count) {
    uint32_t found = 0;
    for (int64_t i = 0; i < count; ++i) found += bytes[i] != 0;
    return found;
}

} // namespace

void BackgroundModel::relearnIfLightChanged(const uint8_t* scaledFrame, const uint8_t* regionMask,
                                            const BackgroundSettings& settings) {
    if (!motionShareExceeds(settings.lightingChangeFraction, regionMask)) {
        relearnRun = 0;
        return;
    }
    if (relearnRun >= settings.relearnRunLimit) return;
    ++relearnRun;
    // Learning the frame into empty models is what the first frame after
    // clear() does; it marks no pixel as motion, so the mask ends up empty.
    emptyModels(regionMask);
    learn(scaledFrame, regionMask, settings);
}

// Unwatched pixels are never motion, so the region mask matters only for
// the number of watched pixels.
bool BackgroundModel::motionShareExceeds(double fraction, const uint8_t* regionMask) const {
    const int64_t pixels = int64_t{gridWidth} * gridHeight;
    const int64_t watched = regionMask ? countNonZero(regionMask, pixels) : pixels;
    return watched > 0 && double(countNonZero(motionMask.get(), pixels)) / double(watched) > fraction;
}

void BackgroundModel::emptyModels(const uint8_t* regionMask) {
    if (regionMask == nullptr) {
        store.clear();
        return;
    }
    const int64_t pixels = int64_t{gridWidth} * gridHeight;
    for (int64_t i = 0; i < pixels; ++i)
        if (regionMask[i] != 0) store.set(i, PixelModel{});
}

} // namespace motion
