// Association of blobs with tracks, correction, coasting, retirement and
// founding, on blobs and tracks built directly.
#include "TrackingFixtures.h"
#include "detector/tracking/MatchScore.h"
#include "detector/tracking/Tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace motion;

namespace {

class Tracking : public ::testing::Test {
protected:
    Tracker tracker;
    // The detector's defaults.
    TrackingSettings settings{0.1, 20.0, 5};

    const std::vector<Track>& step(const std::vector<Blob>& blobs) {
        tracker.update(blobs, settings);
        return tracker.tracks();
    }
    void setTracks(const std::vector<Track>& tracks) { tracker.tracks() = tracks; }
};

Track reported(Track t, int id) {
    t.objectId = id;
    return t;
}

} // namespace

TEST_F(Tracking, EveryBlobFoundsATrackWhenThereAreNone) {
    Blob b = blobAt(20, 30);
    b.label = 4;
    const std::vector<Track>& tracks = step({b, blobAt(60, 30)});
    ASSERT_EQ(tracks.size(), 2u);
    const Track& t = tracks[0];
    EXPECT_EQ(t.blob.x0, b.x0);
    EXPECT_EQ(t.blob.label, 4);
    EXPECT_EQ(t.blob.centroidX, 20.0f);
    EXPECT_EQ(t.objectId, -1);
    EXPECT_EQ(t.velocityX, 0.0f);
    EXPECT_EQ(t.directionCountX, 0);
    EXPECT_EQ(t.missCount, 0);
    EXPECT_TRUE(std::isinf(t.prevCentroidX) && t.prevCentroidX > 0);
    EXPECT_EQ(t.varianceX, 3600.0f);
    EXPECT_EQ(t.varianceY, 3600.0f);
    EXPECT_EQ(tracks[1].blob.centroidX, 60.0f);
}

TEST_F(Tracking, MatchedTrackTakesTheBlobAndRemembersItsCentroid) {
    setTracks({trackOn(blobAt(20, 30))});
    const std::vector<Track>& tracks = step({blobAt(23, 30)});
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].blob.centroidX, 23.0f);
    EXPECT_EQ(tracks[0].prevCentroidX, 20.0f);
    EXPECT_EQ(tracks[0].prevCentroidY, 30.0f);
    EXPECT_EQ(tracks[0].directionCountX, 1);
    EXPECT_EQ(tracks[0].directionCountY, 0);
    EXPECT_GT(tracks[0].velocityX, 2.9f);
}

TEST_F(Tracking, EarlierTrackKeepsItsOnlyCandidateAgainstABetterScore) {
    // A (first) has b as its only candidate; C scores b higher and also has
    // b2. A takes b, C falls back to b2.
    Track a = trackOn(blobAt(20, 20));
    a.velocityX = 10;
    a.varianceX = a.varianceY = 4;
    Track c = trackOn(blobAt(40, 20));
    c.velocityX = -10;
    c.varianceX = c.varianceY = 100;
    const Blob b = blobAt(31, 20);
    const Blob b2 = blobAt(34, 20);
    ASSERT_LE(matchScore(b2, a), 0.5f);
    ASSERT_GT(matchScore(b, c), matchScore(b, a));
    ASSERT_GT(matchScore(b2, c), 0.5f);

    setTracks({a, c});
    const std::vector<Track>& tracks = step({b, b2});
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].blob.centroidX, 31.0f);
    EXPECT_EQ(tracks[1].blob.centroidX, 34.0f);
}

TEST_F(Tracking, ContestedBlobLeavesTheLaterTrackMissed) {
    const Blob b = blobAt(20, 20);
    setTracks({trackOn(blobAt(21, 20)), trackOn(blobAt(19, 20))});
    const std::vector<Track>& tracks = step({b});
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].missCount, 0); // matched, then the missed one
    EXPECT_EQ(tracks[0].prevCentroidX, 21.0f);
    EXPECT_EQ(tracks[1].missCount, 1);
}

TEST_F(Tracking, EqualTopScoresGoToTheBlobNearestTheCurrentCentroid) {
    // Predicted at 24; blobs at 26 and 22 are equally far from the
    // prediction, but 22 is nearer the centroid at 20.
    Track t = trackOn(blobAt(20, 20));
    t.velocityX = 4;
    setTracks({t});
    const std::vector<Track>& tracks = step({blobAt(26, 20), blobAt(22, 20)});
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].blob.centroidX, 22.0f);
    EXPECT_EQ(tracks[1].objectId, -1); // the other blob founds a track
    EXPECT_EQ(tracks[1].blob.centroidX, 26.0f);

    setTracks({trackOn(blobAt(20, 20))}); // equally near: the earlier blob
    EXPECT_EQ(step({blobAt(22, 20), blobAt(18, 20)})[0].blob.centroidX, 22.0f);
}

TEST_F(Tracking, DirectionCountRestartsOnReversalAndHoldsWithoutAStep) {
    Track t = trackOn(blobAt(20, 20));
    t.directionCountX = 5;
    Track still = t;
    correct(still, blobAt(20.05f, 20), settings); // below minObjectVelocity
    EXPECT_EQ(still.directionCountX, 5);
    correct(t, blobAt(17, 20), settings);
    EXPECT_EQ(t.directionCountX, -1);
    correct(t, blobAt(14, 20), settings);
    EXPECT_EQ(t.directionCountX, -2);
}

TEST_F(Tracking, CentroidShiftWithinTheBoxIsNoStep) {
    // The box barely changes but its centroid moves by 3 within it (the
    // object changed shape): the shift, 3.44 px of the blob's width, is the
    // threshold. The same centroid in a box that moved with it is a step.
    Track t = trackOn(blobAt(20, 20)); // box 15..24
    Blob reshaped = blobAt(23, 20);
    reshaped.x0 = 14;
    reshaped.x1 = 24;
    Track shaped = t;
    correct(shaped, reshaped, settings);
    EXPECT_EQ(shaped.directionCountX, 0);
    correct(t, blobAt(23, 20), settings);
    EXPECT_EQ(t.directionCountX, 1);
}

TEST_F(Tracking, OneColumnBoxesMakeNoStepButStillFilterVelocity) {
    Track t = trackOn(blobAt(20, 20, 1, 10)); // own width 0: R = 0, gain 1
    t.directionCountX = 3;
    correct(t, blobAt(25, 20, 1, 10), settings);
    EXPECT_EQ(t.directionCountX, 3);
    EXPECT_EQ(t.velocityX, 5.0f);
    EXPECT_EQ(t.varianceX, 400.0f); // residual 0, raised to the floor 20^2
}

TEST_F(Tracking, VelocityFilterUsesTheTracksOwnWidth) {
    Track t = trackOn(blobAt(20, 20, 11, 11)); // width 10: R = 25
    correct(t, blobAt(30, 20, 41, 11), settings);
    const float gain = 3600.0f / (25.0f + 3600.0f);
    EXPECT_EQ(t.velocityX, 0.0f + gain * 10.0f);
    EXPECT_EQ(t.varianceX, 400.0f);
    EXPECT_EQ(t.blob.x1 - t.blob.x0, 40); // the blob's box replaces the track's
}

TEST_F(Tracking, MissedTracksCoastWithRoundedSteps) {
    const float velocities[] = {0.5f, -0.5f, 0.4f, 2.5f, std::nanf(""), 1e30f};
    const int steps[] = {1, -1, 0, 3, 0, std::numeric_limits<int32_t>::max()};
    for (size_t k = 0; k < 6; ++k) {
        Track t = trackOn(blobAt(20, 20));
        t.velocityX = velocities[k];
        setTracks({t});
        const Track& coasted = step({}).at(0);
        EXPECT_EQ(int64_t{coasted.blob.x0}, std::min<int64_t>(int64_t{t.blob.x0} + steps[k], INT32_MAX))
            << velocities[k];
        EXPECT_EQ(coasted.blob.x1 - coasted.blob.x0, k < 5 ? 9 : 0);
        EXPECT_EQ(coasted.prevCentroidX, 20.0f);
        if (k < 4) {
            EXPECT_EQ(coasted.blob.centroidX, 20.0f + velocities[k]);
        }
        EXPECT_EQ(coasted.missCount, 1);
    }
}

TEST_F(Tracking, UnmatchedTracksAreDroppedAtTheResetCriterion) {
    setTracks({trackOn(blobAt(20, 20)), reported(trackOn(blobAt(60, 20)), 1)});
    for (int frame = 1; frame < 5; ++frame) EXPECT_EQ(step({}).size(), 2u);
    EXPECT_TRUE(step({}).empty()); // missCount 5 is not below 5

    settings.resetCriterion = 0;
    setTracks({trackOn(blobAt(20, 20))});
    EXPECT_TRUE(step({}).empty());
}

TEST_F(Tracking, HiddenReportedObjectLivesWhileItOverlapsAMatchedOne) {
    const Track visible = reported(trackOn(blobAt(20, 20)), 1);
    Track hidden = reported(trackOn(blobAt(25, 20)), 2);
    hidden.missCount = 3;
    Track unreported = trackOn(blobAt(25, 25));
    unreported.missCount = 4;
    setTracks({visible, hidden, unreported});
    for (int frame = 0; frame < 10; ++frame) {
        const std::vector<Track>& tracks = step({blobAt(20, 20)});
        ASSERT_EQ(tracks.size(), 2u);
        EXPECT_EQ(tracks[1].objectId, 2);
        EXPECT_EQ(tracks[1].missCount, 1);
    }

    settings.resetCriterion = 1; // a count of 1 no longer survives
    EXPECT_EQ(step({blobAt(20, 20)}).size(), 1u);
}

TEST_F(Tracking, BoxesSharingOnlyAnEdgeDoNotProtect) {
    const Track visible = reported(trackOn(blobAt(20, 20)), 1); // x 15..24
    Track beside = reported(trackOn(blobAt(34, 20)), 2);        // x 29..38
    beside.velocityX = -5;                                       // coasts to 24..33
    beside.varianceX = beside.varianceY = 1;                     // and matches nothing
    beside.missCount = 4;
    setTracks({visible, beside});
    EXPECT_EQ(step({blobAt(20, 20)}).size(), 1u);

    beside.velocityX = -6; // one column of overlap
    setTracks({visible, beside});
    EXPECT_EQ(step({blobAt(20, 20)}).size(), 2u);
}

TEST_F(Tracking, NewOrderPutsReportedTracksFirst) {
    // Far apart so that each track can only match its own blob.
    const Track matchedNew = trackOn(blobAt(20, 20));
    const Track missedNew = trackOn(blobAt(80, 20));
    const Track matchedReported = reported(trackOn(blobAt(140, 20)), 7);
    const Track missedReported = reported(trackOn(blobAt(200, 20)), 3);
    setTracks({missedNew, matchedNew, missedReported, matchedReported});
    const std::vector<Track>& tracks = step({blobAt(20, 20), blobAt(260, 20), blobAt(140, 20)});
    ASSERT_EQ(tracks.size(), 5u);
    EXPECT_EQ(tracks[0].blob.centroidX, 140.0f);
    EXPECT_EQ(tracks[1].blob.centroidX, 200.0f);
    EXPECT_EQ(tracks[2].blob.centroidX, 20.0f);
    EXPECT_EQ(tracks[3].blob.centroidX, 80.0f);
    EXPECT_EQ(tracks[4].blob.centroidX, 260.0f);
}

TEST_F(Tracking, ZeroMaximumVelocityNeverPairs) {
    settings.maxObjectVelocity = 0;
    EXPECT_EQ(step({blobAt(20, 20)}).size(), 1u);
    EXPECT_EQ(step({blobAt(20, 20)}).size(), 2u);
    EXPECT_EQ(tracker.tracks()[1].missCount, 0);
    EXPECT_EQ(tracker.tracks()[1].varianceX, 0.0f);
}
