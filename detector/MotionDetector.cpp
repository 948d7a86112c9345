// The detector as a pipeline: each accepted frame is downscaled, updates the
// background model, whose motion mask is grouped into blobs, which the
// tracker pairs with its tracks; the object report reads the tracks.
#include "detector/MotionDetector.h"

#include "detector/DetectorStages.h"
#include "detector/scaling/FrameScaling.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace motion;

void MotionDetector::Impl::releaseGeometry() {
    background.release();
    blobs.release();
    scaledFrame.reset();
    width = height = scaledWidth = scaledHeight = 0;
}

void MotionDetector::Impl::allocateGeometry(int frameWidth, int frameHeight, int factor) {
    releaseGeometry();
    const int32_t gridWidth = frameWidth / factor;
    const int32_t gridHeight = frameHeight / factor;
    try {
        // 64-bit counts: an impossible size fails in the allocator instead
        // of wrapping to a small buffer.
        background.resize(gridWidth, gridHeight);
        if (factor > 1) scaledFrame.reset(new uint8_t[size_t(int64_t{gridWidth} * gridHeight)]);
        blobs.resize(gridWidth, gridHeight);
    } catch (...) {
        // Leave a detector without geometry rather than one with half its
        // buffers: the next frame simply allocates again.
        releaseGeometry();
        throw;
    }
    width = frameWidth;
    height = frameHeight;
    scaledWidth = gridWidth;
    scaledHeight = gridHeight;
}

MotionDetector::Impl& stagesOf(MotionDetector& detector) { return *detector.impl; }

MotionDetector::MotionDetector() : impl(new Impl) {}

MotionDetector::~MotionDetector() { delete impl; }

bool MotionDetector::setParam(int id, double value) {
    const Parameter* parameter = findParameter(id);
    if (parameter == nullptr || !parameter->accepts(value)) return false;
    if (id == SCALE_FACTOR) {
        // A new factor takes effect at once: the grid of the current frame
        // size is rebuilt before the factor is stored.
        const int32_t factor = static_cast<int32_t>(value);
        if (factor != impl->params.scaleFactor && impl->width > 0 && impl->height > 0)
            impl->allocateGeometry(impl->width, impl->height, factor);
    }
    parameter->store(impl->params, value);
    return true;
}

double MotionDetector::getParam(int id) const {
    const Parameter* parameter = findParameter(id);
    return parameter ? parameter->storedIn(impl->params) : std::numeric_limits<double>::quiet_NaN();
}

bool MotionDetector::processFrame(const uint8_t* frame, int frameWidth, int frameHeight, const uint8_t* regionMask) {
    Impl& s = *impl;
    const ParameterValues& p = s.params;
    if (!acceptsFrameSize(frameWidth, frameHeight, p.scaleFactor)) return false;
    if (frameWidth != s.width || frameHeight != s.height) s.allocateGeometry(frameWidth, frameHeight, p.scaleFactor);

    if (s.scaledFrame) downscale(frame, frameWidth, frameHeight, p.scaleFactor, s.scaledFrame.get());
    const uint8_t* grey = s.scaledView(frame);
    // A frame taken in as a change of light has no blobs, so every track
    // misses it: a run of such frames ends before the tracks' misses in a
    // row reach the reset criterion and drop them. The first one is always
    // taken in.
    const int32_t relearnRunLimit = std::max(1, p.trackResetCriterion - 1);
    const BlobLimits limits{p.minObjectWidth / p.scaleFactor, p.maxObjectWidth / p.scaleFactor,
                            p.minObjectHeight / p.scaleFactor, p.maxObjectHeight / p.scaleFactor,
                            p.minDistanceBetweenObjects / 2};
    // On a team the blobs are sought in the rows the update has finished
    // while it works on the rest.
    s.blobs.start(s.background.motionRuns(), grey, limits);
    s.background.update(grey, regionMask,
                        {p.alphaCoeff, p.pixelDeviation, p.numGaussElements, p.numThreads,
                         p.lightingChangeFraction, relearnRunLimit},
                        [&](int rows) { s.blobs.rowsReady(rows); });
    const std::vector<Blob>& found = s.blobs.finish();
    s.tracker.update(found, {p.minObjectVelocity, p.maxObjectVelocity, p.trackResetCriterion});
    return true;
}

void MotionDetector::getMotionMask(uint8_t* dst) {
    const Impl& s = *impl;
    if (s.width == 0 || s.height == 0) return;
    enlargeMask(s.background.mask(), s.scaledWidth, s.scaledHeight, s.params.scaleFactor, s.width, s.height, dst);
}

std::vector<DetectedObject> MotionDetector::getObjects() {
    return impl->report.report(impl->tracker.tracks(), impl->params.trackDetectionCriterion, impl->params.scaleFactor);
}

void MotionDetector::reset() {
    impl->background.clear();
    impl->blobs.clear();
    impl->tracker.clear();
    impl->report.clear();
}
