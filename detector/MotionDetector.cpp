// Construction, parameters, reset and the geometry buffers of the detector.
#include "detector/MotionDetector.h"

#include <cmath>
#include <algorithm>
#include <cstring>

namespace {

// Inclusive range test that refuses NaN: both comparisons are false for it.
bool inRange(double value, double low, double high) {
    return value >= low && value <= high;
}

// Allocates count elements; the count is 64-bit so that an impossible size
// fails in the allocator instead of wrapping to a small buffer.
template <typename T>
std::unique_ptr<T[]> allocate(int64_t count, bool zeroFill) {
    std::unique_ptr<T[]> buffer(new T[static_cast<size_t>(count)]);
    if (zeroFill) std::memset(static_cast<void*>(buffer.get()), 0, static_cast<size_t>(count) * sizeof(T));
    return buffer;
}

} // namespace

MotionDetector::MotionDetector()
    : mergedBlobs(allocate<Blob>(maxBlobs, true)),
      firstPassBlobs(allocate<Blob>(maxBlobs, true)),
      labelTable(allocate<int32_t>(maxBlobs, true)) {}

MotionDetector::~MotionDetector() = default;

bool MotionDetector::setParam(int id, double value) {
    switch (id) {
    case PIXEL_DEVIATION:
        if (!inRange(value, 0, 255)) return false;
        pixelDeviation = value;
        return true;
    case ALPHA_COEFF:
        if (!inRange(value, 0, 1)) return false;
        alphaCoeff = value;
        return true;
    case MIN_OBJECT_WIDTH:
    case MAX_OBJECT_WIDTH:
    case MIN_OBJECT_HEIGHT:
    case MAX_OBJECT_HEIGHT: {
        if (!inRange(value, 1, 8192)) return false;
        int32_t* field = id == MIN_OBJECT_WIDTH    ? &minObjectWidth
                         : id == MAX_OBJECT_WIDTH  ? &maxObjectWidth
                         : id == MIN_OBJECT_HEIGHT ? &minObjectHeight
                                                   : &maxObjectHeight;
        *field = static_cast<int32_t>(value);
        return true;
    }
    case MIN_OBJECT_VELOCITY:
    case MAX_OBJECT_VELOCITY:
        if (!inRange(value, 0, 8192)) return false;
        (id == MIN_OBJECT_VELOCITY ? minObjectVelocity : maxObjectVelocity) = value;
        return true;
    case NUM_THREADS:
        if (!inRange(value, 0, 255)) return false;
        numThreads = static_cast<int32_t>(value);
        return true;
    case TRACK_DETECTION_CRITERION:
        if (!inRange(value, 1, 255)) return false;
        trackDetectionCriterion = static_cast<int32_t>(value);
        return true;
    case TRACK_RESET_CRITERION:
        if (!inRange(value, 0, 255)) return false;
        trackResetCriterion = static_cast<int32_t>(value);
        return true;
    case MIN_DISTANCE_BETWEEN_OBJECTS:
        if (!inRange(value, 1, 8192)) return false;
        minDistanceBetweenObjects = static_cast<int32_t>(value);
        return true;
    case SCALE_FACTOR: {
        // The factor is the value truncated toward zero; test the double so
        // that no out-of-range value is ever converted.
        if (!(value >= 1.0 && value < 9.0)) return false;
        const int32_t factor = static_cast<int32_t>(value);
        if (factor != scaleFactor && width > 0 && height > 0) allocateGeometry(width, height, factor);
        scaleFactor = factor;
        return true;
    }
    case NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL:
        if (!inRange(value, 1, PixelModel::capacity)) return false;
        numGaussElements = static_cast<int32_t>(value);
        return true;
    default:
        return false;
    }
}

void MotionDetector::releaseScaledBuffers() {
    pixelModels.release();
    mask.reset();
    scaledFrame.reset();
    rowLabels.reset();
    labelImage.reset();
    grownRuns.reset();
}

void MotionDetector::allocateGeometry(int frameWidth, int frameHeight, int factor) {
    releaseScaledBuffers();
    scaledWidth = frameWidth / factor;
    scaledHeight = frameHeight / factor;
    const int64_t pixels = int64_t{scaledWidth} * scaledHeight;
    try {
        pixelModels.allocate(scaledWidth, scaledHeight);
        mask = allocate<uint8_t>(pixels, true);
        scaledFrame = allocate<uint8_t>(pixels, false);
        rowLabels = allocate<int32_t>(scaledWidth, false);
        // Blob extraction keeps runs cleared and the label image's border
        // unlabelled between frames instead of refilling both every frame.
        grownRuns = allocate<int32_t>(pixels, true);
        labelImage = allocate<int32_t>(pixels, false);
        std::fill_n(labelImage.get(), pixels, -1);
    } catch (...) {
        // Leave a detector without geometry rather than one with half its
        // buffers: the next frame simply allocates again.
        releaseScaledBuffers();
        width = height = scaledWidth = scaledHeight = 0;
        throw;
    }
}

void MotionDetector::reset() {
    if (scaledWidth > 0 && scaledHeight > 0) {
        const size_t pixels = size_t(scaledWidth) * size_t(scaledHeight);
        pixelModels.clear();
        std::memset(mask.get(), 0, pixels);
    }
    blobs.clear();
    tracks.clear();
    blobCount = 0;
    nextObjectId = 0;
}
