// Score of a track-blob pair and its speed test.
#include "TrackingFixtures.h"
#include "detector/tracking/MatchScore.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace motion;

namespace {

float score(const Blob& b, const Track& t) { return matchScore(b, t); }

} // namespace

TEST(SpeedDissimilarity, RatioOfGeometricToArithmeticMeanOfTheSteps) {
    EXPECT_EQ(speedDissimilarity(0, 2, 4), 0.0f);
    EXPECT_NEAR(speedDissimilarity(0, 1, 31), 0.646, 0.001);  // disagrees
    EXPECT_NEAR(speedDissimilarity(0, 1, 13), 0.467, 0.001);  // no vote
    EXPECT_EQ(speedDissimilarity(5, 5, 9), 0.5f);             // no last step
    EXPECT_EQ(speedDissimilarity(0, 3, 3), 0.5f);             // no next step
}

TEST(MatchScore, NewTrackAndIdenticalBlobScoreOne) {
    const Blob b = blobAt(20, 20);
    EXPECT_EQ(score(b, trackOn(b)), 1.0f);
}

TEST(MatchScore, VotesAgainstLowerTheScoreToTheAgreeingShare) {
    const Blob b = blobAt(20, 20);
    Blob other = b;
    other.pixelCount = 50;            // count ratio 0.5: not above one half
    other.intensitySum = 50 * 49;     // mean ratio 0.49
    EXPECT_FLOAT_EQ(score(other, trackOn(b)), 3.0f / 5.0f);

    Blob single = blobAt(20, 20, 1, 1, 100); // no width or height to compare
    EXPECT_FLOAT_EQ(score(single, trackOn(b)), 3.0f / 5.0f);
}

TEST(MatchScore, RatiosAreTakenInFloat) {
    const Blob b = blobAt(20, 20);
    Blob smaller = b;
    smaller.pixelCount = 60;      // 60 / 100 agrees; in integers it would be 0
    smaller.intensitySum = 60 * 100;
    EXPECT_EQ(score(smaller, trackOn(b)), 1.0f);

    Blob darker = b;
    darker.intensitySum = 250;    // mean 2.5 against 4.99: just above one half
    Track t = trackOn(b);
    t.blob.intensitySum = 499;
    EXPECT_EQ(score(darker, t), 1.0f);
}

TEST(MatchScore, LikelihoodAroundThePredictedCentroid) {
    const Blob b = blobAt(20, 20);
    Track t = trackOn(blobAt(15, 20));
    t.velocityX = 5; // predicted exactly on the blob
    EXPECT_EQ(score(b, t), 1.0f);

    // One standard deviation off on one axis: exp(-1/2), about 0.607.
    t.velocityX = 5 - 60;
    const float oneSigma = score(b, t);
    EXPECT_NEAR(oneSigma, std::exp(-0.5), 1e-6);
    Blob fewer = b;
    fewer.pixelCount = 40;
    fewer.intensitySum = 4000;
    EXPECT_LT(score(fewer, t), 0.5f); // one vote of five against
}

TEST(MatchScore, DistanceVoteAllowsLessThanTheLargerDiagonal) {
    const Track t = trackOn(blobAt(20, 20));
    // Diagonal squared 9^2 + 9^2 = 162: 12 px agree, 13 px disagree.
    EXPECT_NEAR(score(blobAt(32, 20), t), std::exp(-144.0 / 7200.0), 1e-6);
    EXPECT_NEAR(score(blobAt(33, 20), t), 0.8 * std::exp(-169.0 / 7200.0), 1e-6);
}

TEST(MatchScore, MotionVotesOnlyForTracksThatHaveMoved) {
    const Blob b = blobAt(24, 20);
    // Continuing a step of 4 at the same speed: four more agreeing votes
    // (vertical ones abstain: no vertical step).
    const Track moving = movingTrackOn(blobAt(20, 20), 4, 0);
    const float continuing = score(b, moving);
    EXPECT_NEAR(continuing, std::exp(-16.0 / 7200.0), 1e-6);

    // Reversing: direction disagrees, speed agrees: 6 of 7.
    const Track reversing = movingTrackOn(blobAt(20, 20), -4, 0);
    EXPECT_NEAR(score(b, reversing), 6.0 / 7.0 * std::exp(-16.0 / 7200.0), 1e-6);

    // A step 30 times the last one: direction agrees, speed disagrees.
    const Track slow = movingTrackOn(blobAt(20, 20), 0.1f, 0);
    EXPECT_NEAR(score(blobAt(23, 20), slow), 6.0 / 7.0 * std::exp(-9.0 / 7200.0), 1e-6);
}

TEST(MatchScore, ZeroVarianceNeverFormsAPair) {
    const Blob b = blobAt(20, 20);
    Track t = trackOn(b);
    t.varianceX = t.varianceY = 0.0f; // even the exact prediction has no value
    EXPECT_EQ(score(b, t), 0.0f);
    EXPECT_EQ(score(blobAt(21, 20), t), 0.0f);
}
