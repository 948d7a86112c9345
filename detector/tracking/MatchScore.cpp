#include "detector/tracking/MatchScore.h"

#include <algorithm>
#include <cmath>

namespace motion {

namespace {

// Tallies the plausibility votes.
struct Votes {
    int agree = 0;
    int disagree = 0;

    void cast(bool agrees) { ++(agrees ? agree : disagree); }

    // A dissimilarity near 0.5 says nothing either way and casts no vote.
    void castUnlessUndecided(float dissimilarity) {
        if (std::fabs(double(dissimilarity) - 0.5) > 0.1) cast(dissimilarity < 0.5f);
    }

    double agreeingShare() const { return double(agree) / double(agree + disagree); }
};

double squared(double v) { return v * v; }

// Smaller over larger of two positive values, both converted to float first.
template <typename T>
float sizeRatio(T a, T b) {
    return static_cast<float>(std::min(a, b)) / static_cast<float>(std::max(a, b));
}

// Distance vote: the centroid may move by less than the larger box diagonal.
bool withinDiagonal(int bw, int bh, int tw, int th, float dx, float dy) {
    const float blobDiagonal2 = static_cast<float>(squared(bw) + squared(bh));
    const float trackDiagonal2 = static_cast<float>(squared(tw) + squared(th));
    float r = 0.0f;
    if (blobDiagonal2 > 0.0f && trackDiagonal2 > 0.0f)
        r = static_cast<float>((squared(dy) + squared(dx)) / double(std::max(blobDiagonal2, trackDiagonal2)));
    return r < 1.0f;
}

// 0 when the blob continues the track's last step, 1 when it reverses it,
// 0.5 when either step is 0.
float directionDissimilarity(float lastStep, float offset) {
    const float product = std::fabs(lastStep) * std::fabs(offset);
    if (product == 0.0f) return 0.5f;
    return (1.0f - lastStep * offset / product) * 0.5f;
}

// exp(-e^2 / (2 variance)). A variance of 0 (maximum velocity 0) leaves no
// room for any offset, including none at all, where the formula has no value.
double likelihood(float offset, float variance) {
    if (!(variance > 0.0f)) return 0.0;
    const float twiceVariance = 2.0f * variance;
    return std::exp(-squared(offset) / double(twiceVariance));
}

} // namespace

float speedDissimilarity(float a, float b, float c) {
    const float lastStep = std::fabs(b - a);
    const float nextStep = std::fabs(c - b);
    if (lastStep * nextStep == 0.0f) return 0.5f;
    return 1.0f - 2.0f * std::sqrt(lastStep * nextStep) / (lastStep + nextStep);
}

float matchScore(const Blob& blob, const Track& track) {
    const int bw = blob.x1 - blob.x0;
    const int bh = blob.y1 - blob.y0;
    const int tw = track.blob.x1 - track.blob.x0;
    const int th = track.blob.y1 - track.blob.y0;
    const float dx = blob.centroidX - track.blob.centroidX;
    const float dy = blob.centroidY - track.blob.centroidY;

    Votes votes;
    votes.cast(withinDiagonal(bw, bh, tw, th, dx, dy));
    if (!std::isinf(track.prevCentroidX) && !std::isinf(track.prevCentroidY)) {
        votes.castUnlessUndecided(directionDissimilarity(track.blob.centroidX - track.prevCentroidX, dx));
        votes.castUnlessUndecided(speedDissimilarity(track.prevCentroidX, track.blob.centroidX, blob.centroidX));
        votes.castUnlessUndecided(directionDissimilarity(track.blob.centroidY - track.prevCentroidY, dy));
        votes.castUnlessUndecided(speedDissimilarity(track.prevCentroidY, track.blob.centroidY, blob.centroidY));
    }
    const bool countsKnown = blob.pixelCount > 0 && track.blob.pixelCount > 0;
    votes.cast(countsKnown && sizeRatio(blob.pixelCount, track.blob.pixelCount) > 0.5f);
    if (countsKnown && blob.intensitySum > 0 && track.blob.intensitySum > 0) {
        const float blobMean = static_cast<float>(blob.intensitySum) / static_cast<float>(blob.pixelCount);
        const float trackMean = static_cast<float>(track.blob.intensitySum) / static_cast<float>(track.blob.pixelCount);
        votes.cast(sizeRatio(blobMean, trackMean) > 0.5f);
    } else {
        votes.cast(false);
    }
    votes.cast(bw > 0 && tw > 0 && sizeRatio(bw, tw) > 0.5f);
    votes.cast(bh > 0 && th > 0 && sizeRatio(bh, th) > 0.5f);

    const double gx = likelihood(dx - track.velocityX, track.varianceX);
    const double gy = likelihood(dy - track.velocityY, track.varianceY);
    return static_cast<float>(gx * gy) * static_cast<float>(votes.agreeingShare());
}

} // namespace motion
