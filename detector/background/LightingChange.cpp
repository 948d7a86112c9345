// Taking in a change of light at once (a lamp, a cloud, a camera's
// exposure): most of the picture then stops fitting its models, and learning
// the new light at the usual rate would show it as motion for many frames,
// hiding every object meanwhile.
#include "detector/background/BackgroundModel.h"

#include "detector/background/PixelModel.h"
#include "detector/background/ToneCurve.h"

#include <cstring>

namespace motion {

namespace {

// A grid has at most 8192 x 8192 pixels, so 32 bits hold the count; the
// narrower sum lets the compiler count many bytes per instruction.
int64_t countNonZero(const uint8_t* bytes, int64_t count) {
    uint32_t found = 0;
    for (int64_t i = 0; i < count; ++i) found += bytes[i] != 0;
    return found;
}

// Slot k of the pixel at (row, column): its weight and variance, and its mean.
const PixelModelStore::RankGroup& ranksOf(const PixelModelStore& store, int k, int row, int column) {
    return store.rankRow(k, row)[column / PixelModelStore::lanes];
}

float weightOf(const PixelModelStore& store, int k, int row, int column) {
    return ranksOf(store, k, row, column).weight[column % PixelModelStore::lanes];
}

float varianceOf(const PixelModelStore& store, int k, int row, int column) {
    return ranksOf(store, k, row, column).variance[column % PixelModelStore::lanes];
}

float& meanOf(const PixelModelStore& store, int k, int row, int column) {
    return store.meanRow(k, row)[column];
}

} // namespace

void BackgroundModel::relearnIfLightChanged(const uint8_t* scaledFrame, const uint8_t* regionMask,
                                            const BackgroundSettings& settings) {
    // Unwatched pixels are never motion, so the region mask matters only for
    // the number of watched pixels.
    const int64_t pixels = int64_t{gridWidth} * gridHeight;
    const int64_t watched = regionMask ? countNonZero(regionMask, pixels) : pixels;
    const auto exceedsFraction = [&](int64_t count) {
        return watched > 0 && double(count) / double(watched) > settings.lightingChangeFraction;
    };
    if (!exceedsFraction(countNonZero(motionMask.get(), pixels))) {
        relearnRun = 0;
        return;
    }
    if (relearnRun >= settings.relearnRunLimit) return;
    ++relearnRun;
    // When one tone curve explains the new frame, the models keep what they
    // learned, moved to the new light: whoever stands in the picture now
    // stays motion, and leaves no ghost behind when they walk on.
    ToneCurve curve;
    if (fitToneCurve(scaledFrame, regionMask, curve) &&
        !exceedsFraction(unexplainedCount(scaledFrame, regionMask, curve))) {
        moveModels(curve, regionMask, settings.components);
        clearMask();
        return;
    }
    // Otherwise (the camera moved, or the light changed in part of the
    // picture only) the frame is learned into empty models, as the first
    // frame after clear() is; that marks no pixel as motion either.
    emptyModels(regionMask);
    learn(scaledFrame, regionMask, settings, {});
}

template <typename Visit>
void BackgroundModel::forEachWatched(const uint8_t* regionMask, Visit visit) const {
    for (int row = 0; row < gridHeight; ++row)
        for (int column = 0; column < gridWidth; ++column) {
            const int64_t index = int64_t{row} * gridWidth + column;
            if (regionMask == nullptr || regionMask[index] != 0) visit(row, column, index);
        }
}

// The first component is the background a pixel most probably shows.
bool BackgroundModel::fitToneCurve(const uint8_t* scaledFrame, const uint8_t* regionMask, ToneCurve& curve) const {
    forEachWatched(regionMask, [&](int row, int column, int64_t index) {
        if (weightOf(store, 0, row, column) > 0.0f) curve.add(meanOf(store, 0, row, column), scaledFrame[index]);
    });
    return curve.fit();
}

// Watched pixels whose value the first component, moved along the curve,
// would not match.
int64_t BackgroundModel::unexplainedCount(const uint8_t* scaledFrame, const uint8_t* regionMask,
                                          const ToneCurve& curve) const {
    int64_t count = 0;
    forEachWatched(regionMask, [&](int row, int column, int64_t index) {
        const float d = float(scaledFrame[index]) - curve.map(meanOf(store, 0, row, column));
        count += !(varianceOf(store, 0, row, column) * matchFactor > d * d);
    });
    return count;
}

// Only the means move: weights and variances, hence the ranking, stay.
// Empty slots stay empty.
void BackgroundModel::moveModels(const ToneCurve& curve, const uint8_t* regionMask, int components) {
    forEachWatched(regionMask, [&](int row, int column, int64_t) {
        for (int k = 0; k < components; ++k)
            if (weightOf(store, k, row, column) != 0.0f) {
                float& mean = meanOf(store, k, row, column);
                mean = curve.map(mean);
            }
    });
}

void BackgroundModel::clearMask() {
    std::memset(motionMask.get(), 0, size_t(int64_t{gridWidth} * gridHeight));
    runs.clear();
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
