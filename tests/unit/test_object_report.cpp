// Which tracks are reported, their identifiers and full-frame units.
#include "TrackingFixtures.h"
#include "detector/blobs/BlobExtractor.h"
#include "detector/report/ObjectReport.h"
#include "detector/tracking/Tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace motion;

namespace {

// The detector's default detection criterion.
constexpr int32_t criterion = 15;

Track movedFor(int framesX, int framesY = 0) {
    Track t = trackOn(blobAt(20, 20));
    t.directionCountX = framesX;
    t.directionCountY = framesY;
    return t;
}

} // namespace

TEST(ObjectReport, QualifiesByConsistentMotionOnEitherAxisWhenMatched) {
    ObjectReport report;
    Track missed = movedFor(20);
    missed.missCount = 1;
    std::vector<Track> tracks = {movedFor(0), movedFor(-14, 3), missed, movedFor(-15), movedFor(2, 15)};
    const std::vector<DetectedObject> objects = report.report(tracks, criterion, 1);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].objectId, 1); // in track order
    EXPECT_EQ(objects[1].objectId, 2);
    EXPECT_EQ(tracks[3].objectId, 1);
    EXPECT_EQ(tracks[2].objectId, -1);
    EXPECT_EQ(report.lastId(), 2);
}

TEST(ObjectReport, ReportedTrackKeepsItsIdentifierAndIsHiddenWhileMissed) {
    ObjectReport report;
    std::vector<Track> tracks = {movedFor(15)};
    ASSERT_EQ(report.report(tracks, criterion, 1).size(), 1u);
    tracks[0].directionCountX = -1; // reported: the counts no longer matter
    tracks[0].missCount = 2;
    EXPECT_TRUE(report.report(tracks, criterion, 1).empty());
    tracks[0].missCount = 0;
    const std::vector<DetectedObject> again = report.report(tracks, criterion, 1);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].objectId, 1);
}

TEST(ObjectReport, SecondCallInTheSameFrameHandsOutNothingNew) {
    ObjectReport report;
    std::vector<Track> tracks = {movedFor(15), movedFor(0, 16)};
    const std::vector<DetectedObject> first = report.report(tracks, criterion, 1);
    const std::vector<DetectedObject> second = report.report(tracks, criterion, 1);
    ASSERT_EQ(second.size(), first.size());
    for (size_t k = 0; k < first.size(); ++k) EXPECT_EQ(second[k].objectId, first[k].objectId);
    EXPECT_EQ(report.lastId(), 2);
}

TEST(ObjectReport, IdentifiersWrapToOneAndRestartAfterReset) {
    ObjectReport report(2147483646);
    std::vector<Track> tracks = {movedFor(15), movedFor(15)};
    const std::vector<DetectedObject> objects = report.report(tracks, criterion, 1);
    EXPECT_EQ(objects[0].objectId, 2147483647);
    EXPECT_EQ(objects[1].objectId, 1);

    report.clear();
    tracks = {movedFor(15)};
    EXPECT_EQ(report.report(tracks, criterion, 1)[0].objectId, 1);
}

TEST(ObjectReport, ConvertsToFullFrameUnits) {
    ObjectReport report;
    Track t = movedFor(15);
    t.blob.x0 = 3, t.blob.y0 = 4, t.blob.x1 = 10, t.blob.y1 = 12;
    t.blob.pixelCount = 50;
    t.blob.intensitySum = 300000000; // times 9 leaves the int range and wraps
    t.blob.label = 6;
    t.blob.centroidX = 6.1f, t.blob.centroidY = 8.2f;
    t.blob.reserved = 0.25f;
    t.velocityX = -1.3f, t.velocityY = 0.7f;
    std::vector<Track> tracks = {t};
    const DetectedObject o = report.report(tracks, criterion, 3).at(0);
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
    BlobExtractor extractor;
    Tracker tracker;
    ObjectReport report;
    const int w = 160, h = 64;
    extractor.resize(w, h);
    const std::vector<uint8_t> grey(w * h, 200);
    std::vector<uint8_t> mask(w * h);
    for (int frame = 0; frame <= 16; ++frame) {
        std::fill(mask.begin(), mask.end(), 0);
        const int left = 5 + 3 * frame;
        for (int y = 20; y < 32; ++y) std::fill_n(mask.begin() + y * w + left, 12, 255);
        tracker.update(extractor.extract(mask.data(), grey.data(), {2, 128, 2, 128, 8}), {0.1, 20.0, 5});
        const std::vector<DetectedObject> objects = report.report(tracker.tracks(), criterion, 1);
        ASSERT_EQ(objects.size(), frame < 15 ? 0u : 1u) << "frame " << frame;
        if (frame >= 15) {
            EXPECT_EQ(objects[0].objectId, 1);
            EXPECT_EQ(objects[0].x0, left);
            EXPECT_EQ(objects[0].x1, left + 11);
        }
    }
}
