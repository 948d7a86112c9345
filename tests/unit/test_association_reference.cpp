// Track association against a plain reference that keeps the full score
// matrix and erases committed pairs from both families of candidate lists,
// on random crowded scenes where many tracks contest the same blobs.
#include "TrackingFixtures.h"
#include "detector/tracking/MatchScore.h"
#include "detector/tracking/Tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace motion;

namespace {

void eraseFirst(std::vector<int>& list, int value) {
    const auto found = std::find(list.begin(), list.end(), value);
    if (found != list.end()) list.erase(found);
}

// Scoring, resolution and founding with the working data as a dense matrix
// and explicit lists; coasting with moderate velocities only.
std::vector<Track> referenceUpdate(std::vector<Track> tracks, const std::vector<Blob>& blobs,
                                   const TrackingSettings& settings) {
    const double maxVelocity = settings.maxObjectVelocity;
    const int resetCriterion = settings.resetCriterion;
    const size_t T = tracks.size(), B = blobs.size();
    std::vector<float> score(T * B, 0.0f);
    std::vector<std::vector<int>> trackCand(T), blobCand(B);
    for (size_t i = 0; i < T; ++i)
        for (size_t j = 0; j < B; ++j) {
            const float s = matchScore(blobs[j], tracks[i]);
            if (s > 0.5) {
                score[i * B + j] = s;
                trackCand[i].push_back(int(j));
                blobCand[j].push_back(int(i));
            }
        }
    std::vector<int> matched, missed;
    for (size_t i = 0; i < T; ++i) {
        if (trackCand[i].empty()) {
            ++tracks[i].missCount;
            missed.push_back(int(i));
            continue;
        }
        int b = trackCand[i][0];
        if (trackCand[i].size() > 1) {
            float best = -1.0f;
            std::vector<int> ties;
            for (int j : trackCand[i]) {
                const float v = score[i * B + size_t(j)];
                if (v > best) best = v, ties = {j};
                else if (v == best) ties.push_back(j);
            }
            float nearest = INFINITY;
            for (int j : ties) {
                const double dx = tracks[i].blob.centroidX - blobs[size_t(j)].centroidX;
                const double dy = tracks[i].blob.centroidY - blobs[size_t(j)].centroidY;
                const float dist = float(dx * dx + dy * dy);
                if (dist < nearest) nearest = dist, b = j;
            }
        }
        correct(tracks[i], blobs[size_t(b)], settings);
        matched.push_back(int(i));
        for (size_t j = 0; j < B; ++j)
            if (int(j) != b) eraseFirst(blobCand[j], int(i)), score[i * B + j] = 0.0f;
        trackCand[i] = {b};
        for (size_t k = 0; k < T; ++k)
            if (k != i) eraseFirst(trackCand[k], b), score[k * B + size_t(b)] = 0.0f;
        blobCand[size_t(b)] = {int(i)};
    }
    std::vector<Track> founded, keptReported, keptUnreported, order;
    const double spread = 3.0 * maxVelocity;
    for (size_t j = 0; j < B; ++j)
        if (blobCand[j].empty()) {
            Track t = trackOn(blobs[j]);
            t.varianceX = t.varianceY = float(spread * spread);
            founded.push_back(t);
        }
    for (int k : missed) {
        Track t = tracks[size_t(k)];
        t.blob.x0 += int(std::round(t.velocityX)), t.blob.x1 += int(std::round(t.velocityX));
        t.prevCentroidX = t.blob.centroidX, t.blob.centroidX = t.blob.centroidX + t.velocityX;
        t.blob.y0 += int(std::round(t.velocityY)), t.blob.y1 += int(std::round(t.velocityY));
        t.prevCentroidY = t.blob.centroidY, t.blob.centroidY = t.blob.centroidY + t.velocityY;
        if (t.objectId > 0)
            for (int m : matched) {
                const Track& o = tracks[size_t(m)];
                if (o.objectId > 0 && std::min(t.blob.x1, o.blob.x1) - std::max(t.blob.x0, o.blob.x0) > 0 &&
                    std::min(t.blob.y1, o.blob.y1) - std::max(t.blob.y0, o.blob.y0) > 0)
                    t.missCount = 1;
            }
        if (t.missCount < resetCriterion) (t.objectId > 0 ? keptReported : keptUnreported).push_back(t);
    }
    for (int k : matched)
        if (tracks[size_t(k)].objectId > 0) order.push_back(tracks[size_t(k)]);
    order.insert(order.end(), keptReported.begin(), keptReported.end());
    for (int k : matched)
        if (tracks[size_t(k)].objectId <= 0) order.push_back(tracks[size_t(k)]);
    order.insert(order.end(), keptUnreported.begin(), keptUnreported.end());
    order.insert(order.end(), founded.begin(), founded.end());
    return order;
}

// Blobs scattered over a small area so that most tracks see several
// candidates, and tracks near them with all kinds of history.
struct Scene {
    std::vector<Blob> blobs;
    std::vector<Track> tracks;
};

Scene randomScene(std::mt19937& rng, float area) {
    std::uniform_real_distribution<float> pos(2.0f, area), unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> size(1, 12), count(1, 60);
    Scene s;
    const int blobCount = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int j = 0; j < blobCount; ++j) {
        Blob b = blobAt(pos(rng), pos(rng), size(rng), size(rng), count(rng));
        b.label = j;
        s.blobs.push_back(b);
    }
    const int trackCount = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < trackCount; ++i) {
        Track t = unit(rng) < 0.5f ? trackOn(blobAt(pos(rng), pos(rng), size(rng), size(rng), count(rng)))
                                   : movingTrackOn(blobAt(pos(rng), pos(rng), size(rng), size(rng), count(rng)),
                                                   unit(rng) * 6 - 3, unit(rng) * 6 - 3);
        t.velocityX = unit(rng) * 8 - 4;
        t.velocityY = unit(rng) * 8 - 4;
        // Variances from the floor of the default maximum velocity up to far
        // beyond a founding variance, some tiny enough to pair with nothing.
        t.varianceX = unit(rng) < 0.1f ? 0.5f : 400.0f * (1 + 30 * unit(rng));
        t.varianceY = unit(rng) < 0.1f ? 0.5f : 400.0f * (1 + 30 * unit(rng));
        t.objectId = unit(rng) < 0.5f ? -1 : i + 1;
        t.missCount = std::uniform_int_distribution<int>(0, 3)(rng);
        s.tracks.push_back(t);
    }
    return s;
}

} // namespace

TEST(AssociationReference, SameTracksAsTheDenseMatrixOnCrowdedScenes) {
    std::mt19937 rng(20261207);
    for (int scene = 0; scene < 400; ++scene) {
        const TrackingSettings settings{0.1, 20.0, 5};
        const Scene s = randomScene(rng, scene % 2 ? 40.0f : 300.0f);
        const std::vector<Track> expected = referenceUpdate(s.tracks, s.blobs, settings);
        Tracker tracker;
        tracker.tracks() = s.tracks;
        tracker.update(s.blobs, settings);
        const std::vector<Track>& got = tracker.tracks();
        ASSERT_EQ(got.size(), expected.size()) << "scene " << scene;
        for (size_t k = 0; k < got.size(); ++k)
            ASSERT_EQ(std::memcmp(&got[k], &expected[k], sizeof(Track)), 0) << "scene " << scene << " track " << k;
    }
}

TEST(AssociationReference, TenThousandStillDotsAreFollowedPromptly) {
    // A noisy source can hand over the full 10000 blobs in frame after frame;
    // association must not grow with tracks x blobs in time or memory.
    Tracker tracker;
    const TrackingSettings settings{0.1, 20.0, 5};
    std::vector<Blob> dots;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x) dots.push_back(blobAt(2.0f * x + 1, 2.0f * y + 1, 1, 1, 1));
    tracker.update(dots, settings);
    const auto started = std::chrono::steady_clock::now();
    tracker.update(dots, settings);
    tracker.update(dots, settings);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_EQ(tracker.tracks().size(), dots.size()) << "every still dot keeps its own track";
}
