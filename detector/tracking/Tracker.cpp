#include "detector/tracking/Tracker.h"

#include "detector/tracking/IntArithmetic.h"
#include "detector/tracking/MatchScore.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace motion {

namespace {

// Working data of one association, created and released per frame.
//
// Only pairs scoring above the threshold are kept: every other pair scores 0
// and can never be chosen. A committed blob drops out of every other track's
// candidates, which is all that committing does to the lists that are read
// later, so it is recorded once per blob instead of being erased from lists.
struct Candidate {
    int blob;
    float score;
};

// Pairs scoring no more than this never associate.
constexpr double matchThreshold = 0.5;

struct Association {
    std::vector<std::vector<Candidate>> trackCandidates; // per track, ascending blob index
    std::vector<int> takenBy;                             // per blob: the track that took it, or -1

    Association(size_t tracks, size_t blobs) : trackCandidates(tracks), takenBy(blobs, -1) {}
};

// A pair scores above 0.5 only if its likelihood does, and the likelihood of
// one axis falls below 0.5 once the blob is more than sqrt(2 ln 2), about
// 1.18, standard deviations from the predicted centroid. Pairs outside a
// window of 1.25 standard deviations plus one pixel, widened for the rounding
// of far-away coordinates, cannot become candidates and are not scored.
double searchRadius(float variance, float centroid, float velocity) {
    if (!(variance > 0.0f)) return 0.0; // such an axis never pairs
    const double rounding = 1e-6 * (std::fabs(double(centroid)) + std::fabs(double(velocity)) + 8192.0);
    return 1.25 * std::sqrt(double(variance)) + 1.0 + rounding;
}

// Blob indices sorted by centroid column, so that the blobs near a predicted
// centroid are found without visiting every blob.
class BlobsByColumn {
public:
    explicit BlobsByColumn(const std::vector<Blob>& blobs) : blobs(blobs), order(blobs.size()) {
        for (size_t j = 0; j < order.size(); ++j) order[j] = int(j);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return blobs[size_t(a)].centroidX < blobs[size_t(b)].centroidX; });
    }

    // Indices, in ascending order, of the blobs within the track's window.
    void near(const Track& track, std::vector<int>& found) const {
        found.clear();
        const double x = double(track.blob.centroidX) + double(track.velocityX);
        const double y = double(track.blob.centroidY) + double(track.velocityY);
        const double rx = searchRadius(track.varianceX, track.blob.centroidX, track.velocityX);
        const double ry = searchRadius(track.varianceY, track.blob.centroidY, track.velocityY);
        if (!(rx > 0.0) || !(ry > 0.0) || !std::isfinite(x) || !std::isfinite(y)) return;
        const auto first = std::lower_bound(order.begin(), order.end(), x - rx,
                                            [&](int j, double v) { return blobs[size_t(j)].centroidX < v; });
        for (auto it = first; it != order.end() && blobs[size_t(*it)].centroidX <= x + rx; ++it)
            if (std::fabs(blobs[size_t(*it)].centroidY - y) <= ry) found.push_back(*it);
        std::sort(found.begin(), found.end());
    }

private:
    const std::vector<Blob>& blobs;
    std::vector<int> order;
};

// Squared centroid distance: differences in float, squares and sum in double.
float squaredDistance(const Track& track, const Blob& blob) {
    const double dx = track.blob.centroidX - blob.centroidX;
    const double dy = track.blob.centroidY - blob.centroidY;
    return static_cast<float>(dx * dx + dy * dy);
}

// The highest-scoring candidate; a tie goes to the blob nearest the track's
// current centroid, then to the earlier candidate.
int selectBestBlob(const std::vector<Candidate>& candidates, const Track& t, const std::vector<Blob>& blobs) {
    float best = -1.0f;
    std::vector<int> ties;
    for (const Candidate& c : candidates) {
        if (c.score > best) {
            best = c.score;
            ties.assign(1, c.blob);
        } else if (c.score == best) {
            ties.push_back(c.blob);
        }
    }
    int chosen = ties.front();
    float nearest = squaredDistance(t, blobs[size_t(chosen)]);
    for (size_t tie = 1; tie < ties.size(); ++tie) {
        const float dist = squaredDistance(t, blobs[size_t(ties[tie])]);
        if (dist < nearest) {
            nearest = dist;
            chosen = ties[tie];
        }
    }
    return chosen;
}

// Makes the pair (track, blob) exclusive: the blob leaves the candidates of
// every other track.
void commitMatch(Association& a, int track, int blob) { a.takenBy[size_t(blob)] = track; }

// A track's candidates that no earlier track has taken, in their order.
void remainingCandidates(const Association& a, int track, std::vector<Candidate>& remaining) {
    remaining.clear();
    for (const Candidate& c : a.trackCandidates[size_t(track)])
        if (a.takenBy[size_t(c.blob)] < 0) remaining.push_back(c);
}

// The velocity rounded half away from zero; NaN moves nothing and huge
// values saturate.
int64_t coastStep(float velocity) {
    if (std::isnan(velocity)) return 0;
    constexpr float limit = 4294967296.0f; // beyond any int32 difference
    return static_cast<int64_t>(std::round(std::clamp(velocity, -limit, limit)));
}

// A missed track moves on by its velocity.
void coast(Track& track) {
    const int64_t stepX = coastStep(track.velocityX);
    track.blob.x0 = saturateToInt32(track.blob.x0 + stepX);
    track.blob.x1 = saturateToInt32(track.blob.x1 + stepX);
    track.prevCentroidX = track.blob.centroidX;
    track.blob.centroidX = track.blob.centroidX + track.velocityX;
    const int64_t stepY = coastStep(track.velocityY);
    track.blob.y0 = saturateToInt32(track.blob.y0 + stepY);
    track.blob.y1 = saturateToInt32(track.blob.y1 + stepY);
    track.prevCentroidY = track.blob.centroidY;
    track.blob.centroidY = track.blob.centroidY + track.velocityY;
}

bool isReported(const Track& track) { return track.objectId > 0; }

// Overlap with a positive area: boxes sharing only an edge row or column do
// not overlap. Widened so that saturated coordinates cannot overflow.
bool overlaps(const Track& a, const Track& b) {
    const int64_t w = int64_t{std::min(a.blob.x1, b.blob.x1)} - std::max(a.blob.x0, b.blob.x0);
    const int64_t h = int64_t{std::min(a.blob.y1, b.blob.y1)} - std::max(a.blob.y0, b.blob.y0);
    return w > 0 && h > 0;
}

bool overlapsReported(const Track& track, const std::vector<Track>& tracks, const std::vector<int>& matched) {
    return std::any_of(matched.begin(), matched.end(),
                       [&](int m) { return isReported(tracks[size_t(m)]) && overlaps(track, tracks[size_t(m)]); });
}

// One axis of the direction count: a step against the current direction
// restarts the count, no step keeps it, a step along it adds one. The count
// stays within +-INT32_MAX so that its magnitude is always defined.
int32_t countedDirection(int32_t count, int step) {
    constexpr int64_t limit = std::numeric_limits<int32_t>::max();
    const int64_t next = std::clamp(int64_t{count} + step, -limit, limit);
    return std::llabs(next) < std::llabs(count) ? step : static_cast<int32_t>(next);
}

// Direction step on one axis: +1, -1 or 0. A change of shape (the centroid
// shifting within the box) needs a larger displacement to count as motion.
int directionStep(int blobLow, int blobHigh, float blobCentroid, int trackLow, int trackHigh, float trackCentroid,
                  float minVelocity) {
    const float blobSize = static_cast<float>(blobHigh - blobLow);
    const float trackSize = static_cast<float>(trackHigh - trackLow);
    if (blobSize == 0.0f || trackSize == 0.0f) return 0;
    const float blobPlace = (blobCentroid - static_cast<float>(blobLow)) / blobSize;
    const float trackPlace = (trackCentroid - static_cast<float>(trackLow)) / trackSize;
    const float shift = std::fabs(blobPlace - trackPlace) * blobSize;
    const float threshold = std::max(minVelocity, shift);
    const float d = blobCentroid - trackCentroid;
    return d < -threshold ? -1 : d > threshold ? 1 : 0;
}

// One axis of the velocity filter. R comes from the track's own size.
void filterVelocity(float& velocity, float& variance, float trackSize, float displacement, float varianceFloor) {
    const double halfSize = trackSize / 2.0;
    const float r = static_cast<float>(halfSize * halfSize);
    const float gain = variance / (r + variance);
    velocity = velocity + gain * (displacement - velocity);
    const double residual = displacement - velocity;
    const float residual2 = static_cast<float>(residual * residual);
    variance = gain * residual2 + (1.0f - gain) * variance;
    if (variance < varianceFloor) variance = varianceFloor;
}

// Step 1: every pair's score; pairs above the threshold become candidates,
// each list in ascending blob order.
Association scorePairs(const std::vector<Track>& tracks, const std::vector<Blob>& blobs) {
    Association a(tracks.size(), blobs.size());
    const BlobsByColumn index(blobs);
    std::vector<int> near;
    for (size_t i = 0; i < tracks.size(); ++i) {
        index.near(tracks[i], near);
        for (int j : near) {
            const float s = matchScore(blobs[size_t(j)], tracks[i]);
            if (s > matchThreshold) a.trackCandidates[i].push_back({j, s});
        }
    }
    return a;
}

struct Resolution {
    std::vector<int> matched; // track indices, in resolution order
    std::vector<int> missed;
};

// Step 2: in track order, each track takes its only candidate (whatever
// other tracks score for it) or the best of several, and is corrected; a
// track left without candidates is missed.
Resolution associate(Association& a, std::vector<Track>& tracks, const std::vector<Blob>& blobs,
                     const TrackingSettings& settings) {
    Resolution r;
    std::vector<Candidate> candidates;
    for (int i = 0; i < int(tracks.size()); ++i) {
        remainingCandidates(a, i, candidates);
        Track& track = tracks[size_t(i)];
        if (candidates.empty()) {
            ++track.missCount;
            r.missed.push_back(i);
            continue;
        }
        const int blob = candidates.size() == 1 ? candidates.front().blob : selectBestBlob(candidates, track, blobs);
        correct(track, blobs[size_t(blob)], settings);
        r.matched.push_back(i);
        commitMatch(a, i, blob);
    }
    return r;
}

// Step 3: a new track on every blob that no track took.
std::vector<Track> startTracks(const Association& a, const std::vector<Blob>& blobs, float initialVariance) {
    std::vector<Track> started;
    for (size_t j = 0; j < blobs.size(); ++j) {
        if (a.takenBy[j] >= 0) continue;
        Track track{};
        track.blob = blobs[j];
        track.objectId = -1;
        track.prevCentroidX = track.prevCentroidY = std::numeric_limits<float>::infinity();
        track.varianceX = track.varianceY = initialVariance;
        started.push_back(track);
    }
    return started;
}

struct KeptMisses {
    std::vector<Track> reported;
    std::vector<Track> unreported;
};

// Step 4: missed tracks coast; those missed too long retire. A reported
// object hidden behind another reported object that is still seen (two
// people crossing) is kept alive while they overlap.
KeptMisses coastAndRetire(const std::vector<Track>& tracks, const Resolution& r, int32_t resetCriterion) {
    KeptMisses kept;
    for (int k : r.missed) {
        Track track = tracks[size_t(k)];
        coast(track);
        if (isReported(track) && overlapsReported(track, tracks, r.matched)) track.missCount = 1;
        if (track.missCount < resetCriterion) (isReported(track) ? kept.reported : kept.unreported).push_back(track);
    }
    return kept;
}

// Step 5: reported objects first, so that they have the first claim on
// blobs in the next frame, then the rest, then the new tracks.
std::vector<Track> inPrecedenceOrder(const std::vector<Track>& tracks, const std::vector<int>& matched,
                                     const KeptMisses& kept, const std::vector<Track>& started) {
    std::vector<Track> order;
    order.reserve(matched.size() + kept.reported.size() + kept.unreported.size() + started.size());
    for (int k : matched)
        if (isReported(tracks[size_t(k)])) order.push_back(tracks[size_t(k)]);
    order.insert(order.end(), kept.reported.begin(), kept.reported.end());
    for (int k : matched)
        if (!isReported(tracks[size_t(k)])) order.push_back(tracks[size_t(k)]);
    order.insert(order.end(), kept.unreported.begin(), kept.unreported.end());
    order.insert(order.end(), started.begin(), started.end());
    return order;
}

} // namespace

void Tracker::update(const std::vector<Blob>& blobs, const TrackingSettings& settings) {
    Association a = scorePairs(current, blobs);
    const Resolution r = associate(a, current, blobs, settings);
    const double spread = 3.0 * settings.maxObjectVelocity;
    const std::vector<Track> started = startTracks(a, blobs, static_cast<float>(spread * spread));
    const KeptMisses kept = coastAndRetire(current, r, settings.resetCriterion);
    current = inPrecedenceOrder(current, r.matched, kept, started);
}

void correct(Track& track, const Blob& blob, const TrackingSettings& settings) {
    const float minVelocity = static_cast<float>(settings.minObjectVelocity);
    const float trackWidth = static_cast<float>(track.blob.x1 - track.blob.x0);
    const float trackHeight = static_cast<float>(track.blob.y1 - track.blob.y0);
    const int stepX = directionStep(blob.x0, blob.x1, blob.centroidX, track.blob.x0, track.blob.x1,
                                    track.blob.centroidX, minVelocity);
    const int stepY = directionStep(blob.y0, blob.y1, blob.centroidY, track.blob.y0, track.blob.y1,
                                    track.blob.centroidY, minVelocity);
    track.directionCountX = countedDirection(track.directionCountX, stepX);
    track.directionCountY = countedDirection(track.directionCountY, stepY);

    const double maxVelocity = settings.maxObjectVelocity;
    const float varianceFloor = static_cast<float>(maxVelocity * maxVelocity);
    filterVelocity(track.velocityX, track.varianceX, trackWidth, blob.centroidX - track.blob.centroidX, varianceFloor);
    filterVelocity(track.velocityY, track.varianceY, trackHeight, blob.centroidY - track.blob.centroidY, varianceFloor);

    const float previousX = track.blob.centroidX;
    const float previousY = track.blob.centroidY;
    track.blob = blob;
    track.prevCentroidX = previousX;
    track.prevCentroidY = previousY;
    track.missCount = 0;
}

} // namespace motion
