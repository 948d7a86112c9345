// Per-pixel mixture-of-Gaussians background update.
//
// Every step is single precision in a fixed order; the result must be the
// same bit for bit on one thread or many.
#include "detector/MotionDetector.h"

#include <omp.h>

#include <cmath>
#include <utility>

namespace {

constexpr float matchFactor = 6.25f;      // 2.5 standard deviations, squared
constexpr float backgroundWeight = 0.7f;  // weight share that counts as background

struct UpdateParams {
    float alpha;
    float minVariance;
    int components;
};

// Updates one pixel's model with grey value x; returns true for motion.
bool updatePixel(PixelModel& model, float x, const UpdateParams& u) {
    GaussianComponent* c = model.components;
    const int n = u.components;
    const float alpha = u.alpha;
    float total = 1.0f;
    int p = -1;
    for (int k = 0; k < n; ++k) {
        const float d = x - c[k].mean;
        if (c[k].variance * matchFactor > d * d) {
            c[k].weight = alpha + c[k].weight;
            c[k].mean = d * alpha + c[k].mean;
            c[k].variance = (d * d - c[k].variance) * alpha + c[k].variance;
            if (c[k].variance < u.minVariance) c[k].variance = u.minVariance;
            total = alpha + 1.0f;
            p = k;
            break;
        }
    }
    if (p < 0) {
        float largest = u.minVariance;
        for (int k = 0; k < n; ++k)
            if (c[k].variance > largest) largest = c[k].variance;
        GaussianComponent& last = c[n - 1];
        total = model.initialized ? (1.0f - last.weight) + alpha : alpha;
        last.mean = x;
        last.weight = alpha;
        last.variance = largest;
        model.initialized = true;
        p = n - 1;
    }
    const float r = 1.0f / total;
    for (int k = 0; k < n; ++k) {
        if (c[k].weight >= alpha) {
            c[k].weight = c[k].weight * r;
            c[k].fitness = c[k].weight / c[k].variance;
        }
    }
    for (; p > 0 && !(c[p - 1].fitness > c[p].fitness); --p) std::swap(c[p - 1], c[p]);
    for (int k = 0; k + 1 < n; ++k)
        if (c[k + 1].fitness > c[k].fitness) std::swap(c[k], c[k + 1]);
    float sum = 0.0f;
    int b = -1;
    while (b < n - 1) {
        sum += c[++b].weight;
        if (sum > backgroundWeight) break;
    }
    return p > b;
}

} // namespace

void MotionDetector::updateBackground(const uint8_t* scaledFrame, const uint8_t* regionMask) {
    updateBackgroundRows(scaledFrame, regionMask, 0, scaledHeight);
}

void MotionDetector::updateBackgroundParallel(const uint8_t* scaledFrame, const uint8_t* regionMask) {
    if (numThreads > 1) omp_set_num_threads(numThreads);
#pragma omp parallel
    {
        const int32_t t = omp_get_thread_num();
        const int32_t teamSize = omp_get_num_threads();
        updateBackgroundRows(scaledFrame, regionMask, t * scaledHeight / teamSize, (t + 1) * scaledHeight / teamSize);
    }
}

void MotionDetector::updateBackgroundRows(const uint8_t* scaledFrame, const uint8_t* regionMask, int firstRow, int endRow) {
    const UpdateParams u{static_cast<float>(alphaCoeff), static_cast<float>(pixelDeviation * pixelDeviation),
                         numGaussElements};
    // A rate whose reciprocal overflows (0 included) would normalise the
    // first frame's weights to infinity or NaN; such a model cannot learn, so
    // it is left as it is and every pixel counts as background.
    const bool frozen = !std::isfinite(1.0f / u.alpha);
    for (int64_t i = int64_t{firstRow} * scaledWidth; i < int64_t{endRow} * scaledWidth; ++i) {
        if (frozen || (regionMask && regionMask[i] == 0))
            mask[i] = 0;
        else
            mask[i] = updatePixel(pixelModels[i], scaledFrame[i], u) ? 255 : 0;
    }
}
