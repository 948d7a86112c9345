// Which tracks are reported, their identifiers and full-frame units.
#include "DetectorAccess.h"
#include "TrackingFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using A = MotionDetectorTestAccess;

namespace {

Track movedFor(int framesX, int framesY = 0) {
    Track t = trackOn(blobAt(20, 20));
    t.directionCountX = framesX;
    t.directionCountY = framesY;
    return t;
}

} // namespace

TEST(ObjectReport, QualifiesByConsistentMotionOnEitherAxisWhenMatched) {
    MotionDetector d;
    Track missed = movedFor(20);
    missed.missCount = 1;
    A::tracks(d) = {movedFor(0), movedFor(-14, 3), missed, movedFor(-15), movedFor(2, 15)};
    const std::vector<DetectedObject> objects = d.getObjects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].objectId, 1); // in track order
    EXPECT_EQ(objects[1].objectId, 2);
    EXPECT_EQ(A::tracks(d)[3].objectId, 1);
    EXPECT_EQ(A::tracks(d)[2].objectId, -1);
    EXPECT_EQ(A::nextObjectId(d), 2);
}

TEST(ObjectReport, ReportedTrackKeepsItsIdentifierAndIsHiddenWhileMissed) {
    MotionDetector d;
    A::tracks(d) = {movedFor(15)};
    ASSERT_EQ(d.getObjects().size(), 1u);
    A::tracks(d)[0].directionCountX = -1; // reported: the counts no longer matter
    A::tracks(d)[0].missCount = 2;
    EXPECT_TRUE(d.getObjects().empty());
    A::tracks(d)[0].missCount = 0;
    const std::vector<DetectedObject> again = d.getObjects();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].objectId, 1);
}

TEST(ObjectReport, SecondCallInTheSameFrameHandsOutNothingNew) {
    MotionDetector d;
    A::tracks(d) = {movedFor(15), movedFor(0, 16)};
    const std::vector<DetectedObject> first = d.getObjects();
    const std::vector<DetectedObject> second = d.getObjects();
    ASSERT_EQ(second.size(), first.size());
    for (size_t k = 0; k < first.size(); ++k) EXPECT_EQ(second[k].objectId, first[k].objectId);
    EXPECT_EQ(A::nextObjectId(d), 2);
}

TEST(ObjectReport, IdentifiersWrapToOneAndRestartAfterReset) {
    MotionDetector d;
    A::nextObjectId(d) = 2147483646;
    A::tracks(d) = {movedFor(15), movedFor(15)};
    const std::vector<DetectedObject> objects = d.getObjects();
    EXPECT_EQ(objects[0].objectId, 2147483647);
    EXPECT_EQ(objects[1].objectId, 1);

    d.reset();
    A::tracks(d) = {movedFor(15)};
    EXPECT_EQ(d.getObjects()[0].objectId, 1);
}

TEST(ObjectReport, ConvertsToFullFrameUnits) {
    MotionDetector d;
    d.setParam(SCALE_FACTOR, 3);
    Track t = movedFor(15);
    t.x0 = 3, t.y0 = 4, t.x1 = 10, t.y1 = 12;
    t.pixelCount = 50;
    t.intensitySum = 300000000; // times 9 leaves the int range and wraps
    t.label = 6;
    t.centroidX = 6.1f, t.centroidY = 8.2f;
    t.reserved = 0.25f;
    t.velocityX = -1.3f, t.velocityY = 0.7f;
    A::tracks(d) = {t};
    const DetectedObject o = d.getObjects().at(0);
    EXPECT_EQ(o.x0, 9);
    EXPECT_EQ(o.y0, 12);
    EXPECT_EQ(o.x1, 30); // no allowance for the pixels one scaled pixel covers
    EXPECT_EQ(o.y1, 36);
    EXPECT_EQ(o.pixelCount, 450);
    EXPECT_EQ(o.intensitySum, int32_t(uint32_t(300000000u * 9u)));
    EXPECT_EQ(o.label, 6);
    EXPECT_EQ(o.centroidX, 6.1f * 3.0f);
    EXPECT_EQ(o.centroidY, 8.2f * 3.0f);
    EXPECT_EQ(o.reserved, 0.25f);
    EXPECT_EQ(o.objectId, 1);
    EXPECT_EQ(o.velocityX, -1.3f * 3.0f);
    EXPECT_EQ(o.velocityY, 0.7f * 3.0f);
}

TEST(ObjectReport, SteadilyMovingSquareIsReportedAfterTheCriterion) {
    // Mask to objects without the background model: a 12 x 12 square moving
    // 3 pixels per frame founds a track in frame 0 and makes one step in
    // every later frame.
    MotionDetector d;
    const int w = 160, h = 64;
    A::setExtractionGeometry(d, w, h);
    std::fill_n(A::scaledFrame(d), w * h, 200);
    for (int frame = 0; frame <= 16; ++frame) {
        std::fill_n(A::mask(d), w * h, 0);
        const int left = 5 + 3 * frame;
        for (int y = 20; y < 32; ++y) std::fill_n(A::mask(d) + y * w + left, 12, 255);
        A::extractBlobs(d);
        A::updateTracks(d);
        const std::vector<DetectedObject> objects = d.getObjects();
        ASSERT_EQ(objects.size(), frame < 15 ? 0u : 1u) << "frame " << frame;
        if (frame >= 15) {
            EXPECT_EQ(objects[0].objectId, 1);
            EXPECT_EQ(objects[0].x0, left);
            EXPECT_EQ(objects[0].x1, left + 11);
        }
    }
}
