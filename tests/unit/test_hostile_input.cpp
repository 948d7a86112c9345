// Hostile values through the public interface: impossible frame sizes,
// non-numbers between frames, frames with more regions than blob extraction
// can hold, and extreme tracking parameters. Each must leave a working
// detector whose invariants hold; under the sanitizer build any undefined
// behaviour or stray memory access on the way fails the test as well.
#include "detector/DetectorStages.h"
#include "tests/fuzz/DetectorInvariants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

using detector_invariants::brokenInvariant;
using detector_invariants::brokenObjects;
using namespace motion;

struct Square {
    int x, y, side;
};

// A flat dark frame with bright squares.
std::vector<uint8_t> frameWith(int w, int h, const std::vector<Square>& squares) {
    std::vector<uint8_t> frame(size_t(w) * h, 20);
    for (const Square& s : squares)
        for (int y = s.y; y < s.y + s.side && y < h; ++y)
            for (int x = s.x; x < s.x + s.side && x < w; ++x) frame[size_t(y) * w + x] = 230;
    return frame;
}

// Runs frames through the detector as the program does and returns the
// objects of the last one; every step must keep the invariants.
std::vector<DetectedObject> run(MotionDetector& d, const std::vector<uint8_t>& frame, int w, int h) {
    EXPECT_TRUE(d.processFrame(frame.data(), w, h, nullptr)) << w << "x" << h;
    std::vector<uint8_t> mask(size_t(w) * h);
    d.getMotionMask(mask.data());
    std::vector<DetectedObject> objects = d.getObjects();
    EXPECT_EQ(brokenObjects(objects), "");
    EXPECT_EQ(brokenInvariant(d), "");
    return objects;
}

// A square of the given side moving right by step pixels per frame.
void runMovingSquare(MotionDetector& d, int frames, int w = 160, int h = 120, int side = 12, int step = 3) {
    for (int f = 0; f < frames; ++f) run(d, frameWith(w, h, {{10 + (f * step) % (w - side - 20), h / 3, side}}), w, h);
}

TEST(HostileInput, ImpossibleFrameSizesAreRefusedWithoutReadingTheFrame) {
    MotionDetector d;
    runMovingSquare(d, 20);
    std::vector<uint8_t> before(160 * 120), after(160 * 120);
    d.getMotionMask(before.data());
    const size_t tracks = stagesOf(d).tracker.tracks().size();
    const int sides[] = {INT_MIN, -1, 0, 31, 8193, INT_MAX};
    for (int bad : sides) {
        // A null frame: a refused size must be refused before any pixel is read.
        EXPECT_FALSE(d.processFrame(nullptr, bad, 120, nullptr)) << bad;
        EXPECT_FALSE(d.processFrame(nullptr, 160, bad, nullptr)) << bad;
        EXPECT_FALSE(d.processFrame(nullptr, bad, bad, nullptr)) << bad;
    }
    EXPECT_EQ(stagesOf(d).width, 160);
    EXPECT_EQ(stagesOf(d).height, 120);
    EXPECT_EQ(stagesOf(d).tracker.tracks().size(), tracks);
    d.getMotionMask(after.data());
    EXPECT_EQ(before, after);
    EXPECT_EQ(brokenInvariant(d), "");
}

TEST(HostileInput, NonNumbersBetweenFramesLeaveNoTrace) {
    // Two detectors see the same frames; one is also offered NaN and the
    // infinities for every parameter between frames. Masks and objects must
    // stay identical.
    MotionDetector plain, bombarded;
    const double hostile[] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    std::vector<uint8_t> maskPlain(160 * 120), maskBombarded(160 * 120);
    for (int f = 0; f < 40; ++f) {
        for (int id = PIXEL_DEVIATION; id <= NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL; ++id)
            for (double value : hostile) ASSERT_FALSE(bombarded.setParam(id, value)) << id << " " << value;
        const std::vector<uint8_t> frame = frameWith(160, 120, {{10 + 3 * f, 40, 12}, {140 - 2 * f, 80, 10}});
        ASSERT_TRUE(plain.processFrame(frame.data(), 160, 120, nullptr));
        ASSERT_TRUE(bombarded.processFrame(frame.data(), 160, 120, nullptr));
        plain.getMotionMask(maskPlain.data());
        bombarded.getMotionMask(maskBombarded.data());
        ASSERT_EQ(maskPlain, maskBombarded) << "frame " << f;
        const std::vector<DetectedObject> a = plain.getObjects(), b = bombarded.getObjects();
        ASSERT_EQ(a.size(), b.size()) << "frame " << f;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].objectId, b[i].objectId);
            EXPECT_EQ(a[i].x0, b[i].x0);
            EXPECT_EQ(a[i].y1, b[i].y1);
        }
    }
    EXPECT_EQ(brokenInvariant(bombarded), "");
}

// Motion at every other pixel of every other row: isolated single pixels
// that cannot touch, far more than the 10000 first-pass blobs there is room for.
std::vector<uint8_t> dottedFrame(int w, int h) {
    std::vector<uint8_t> frame(size_t(w) * h, 20);
    for (int y = 1; y < h; y += 2)
        for (int x = 1; x < w; x += 2) frame[size_t(y) * w + x] = 230;
    return frame;
}

TEST(HostileInput, MoreRegionsThanBlobExtractionHolds) {
    constexpr int side = 400; // 200 x 200 = 40000 isolated motion pixels
    MotionDetector d;
    ASSERT_TRUE(d.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, 1)); // no growing: the dots stay apart
    ASSERT_TRUE(d.setParam(MIN_OBJECT_WIDTH, 1));
    ASSERT_TRUE(d.setParam(MIN_OBJECT_HEIGHT, 1));
    run(d, frameWith(side, side, {}), side, side);
    run(d, dottedFrame(side, side), side, side);
    EXPECT_LE(stagesOf(d).blobs.blobs().size(), size_t(BlobExtractor::maxBlobs));
    EXPECT_LE(stagesOf(d).blobs.blobs().size(), 10000u);
    EXPECT_GT(stagesOf(d).blobs.blobs().size(), 0u) << "the blobs that fitted are handed over";
    for (const Blob& b : stagesOf(d).blobs.blobs()) EXPECT_GT(b.pixelCount, 0);
    EXPECT_LE(stagesOf(d).tracker.tracks().size(), 10000u);

    // The frame after: every track is missed, then the pipeline goes on.
    run(d, frameWith(side, side, {}), side, side);
    d.reset();
    EXPECT_EQ(brokenInvariant(d), "");
    run(d, frameWith(side, side, {}), side, side);
}

TEST(HostileInput, ConsecutiveFramesOfTenThousandRegionsFinishPromptly) {
    // 10000 tracks meet 10000 blobs: a frame takes seconds at most, not the
    // minutes that would stall the program on a noisy source.
    constexpr int side = 400;
    MotionDetector d;
    ASSERT_TRUE(d.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, 1));
    ASSERT_TRUE(d.setParam(MIN_OBJECT_WIDTH, 1));
    ASSERT_TRUE(d.setParam(MIN_OBJECT_HEIGHT, 1));
    run(d, frameWith(side, side, {}), side, side);
    const auto started = std::chrono::steady_clock::now();
    for (int f = 0; f < 2; ++f) run(d, dottedFrame(side, side), side, side);
    EXPECT_EQ(stagesOf(d).tracker.tracks().size(), 10000u) << "every dot is followed by its own track";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST(HostileInput, GrowingRegionsBeyondTheFrameMergesThemSafely) {
    // Half of 8192 reaches far past every edge: two squares at opposite
    // corners become one blob covering both.
    MotionDetector d;
    ASSERT_TRUE(d.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, 8192));
    ASSERT_TRUE(d.setParam(MAX_OBJECT_WIDTH, 8192));
    ASSERT_TRUE(d.setParam(MAX_OBJECT_HEIGHT, 8192));
    run(d, frameWith(160, 120, {}), 160, 120);
    run(d, frameWith(160, 120, {{5, 5, 10}, {140, 100, 12}}), 160, 120);
    ASSERT_EQ(stagesOf(d).blobs.blobs().size(), 1u);
    const Blob& b = stagesOf(d).blobs.blobs()[0];
    EXPECT_LE(b.x0, 5);
    EXPECT_LE(b.y0, 5);
    EXPECT_GE(b.x1, 151);
    EXPECT_GE(b.y1, 111);
    EXPECT_LT(b.x1, 160);
    EXPECT_LT(b.y1, 120);
    runMovingSquare(d, 30);
}

TEST(HostileInput, ZeroMaximumVelocityPairsNothing) {
    // Every variance is 0, so no score exceeds the threshold: each blob
    // founds a new track in every frame, and none is ever reported.
    MotionDetector d;
    ASSERT_TRUE(d.setParam(MAX_OBJECT_VELOCITY, 0));
    run(d, frameWith(160, 120, {}), 160, 120); // an empty background: one blob per frame after it
    for (int f = 0; f < 60; ++f) {
        const std::vector<DetectedObject> objects =
            run(d, frameWith(160, 120, {{10 + 2 * f, 50, 12}}), 160, 120);
        EXPECT_TRUE(objects.empty()) << "frame " << f;
        // One blob per frame, each track dropped after 5 misses.
        EXPECT_LE(stagesOf(d).tracker.tracks().size(), 6u) << "frame " << f;
        for (const Track& t : stagesOf(d).tracker.tracks()) EXPECT_FALSE(std::isnan(t.blob.centroidX));
    }
}

TEST(HostileInput, ZeroResetCriterionDropsEveryMissedTrack) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(TRACK_RESET_CRITERION, 0));
    ASSERT_TRUE(d.setParam(TRACK_DETECTION_CRITERION, 3));
    run(d, frameWith(160, 120, {}), 160, 120);
    bool reported = false;
    for (int f = 0; f < 30; ++f)
        reported |= !run(d, frameWith(160, 120, {{10 + 3 * f, 50, 12}}), 160, 120).empty();
    EXPECT_TRUE(reported) << "a steadily moving square is reported";
    // The square is gone: nothing matches, so every track goes at once.
    run(d, frameWith(160, 120, {}), 160, 120);
    EXPECT_TRUE(stagesOf(d).tracker.tracks().empty());
}

TEST(HostileInput, ScaleChangeToAFactorThatDoesNotDivideTheFrame) {
    MotionDetector d;
    runMovingSquare(d, 30, 640, 480, 24, 4);
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 7)); // 640 x 480 is no multiple of 7
    EXPECT_EQ(brokenInvariant(d), "");
    // Mask and objects of the current frame size: the mask stays within
    // its 640 x 480 bytes (the sanitizer build checks the bound).
    std::vector<uint8_t> mask(640 * 480, 7);
    d.getMotionMask(mask.data());
    for (uint8_t byte : mask) ASSERT_TRUE(byte == 0 || byte == 255 || byte == 7);
    EXPECT_EQ(brokenObjects(d.getObjects()), "");
    const std::vector<uint8_t> frame = frameWith(640, 480, {{100, 100, 24}});
    EXPECT_FALSE(d.processFrame(frame.data(), 640, 480, nullptr));
    EXPECT_FALSE(d.processFrame(frame.data(), 640, 480, nullptr));
    // A size the factor divides is taken, with the tracks of the old grid.
    runMovingSquare(d, 20, 637, 476, 24, 7);
    EXPECT_EQ(stagesOf(d).scaledWidth, 91);
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 1));
    runMovingSquare(d, 10, 637, 476, 24, 4);
}

} // namespace
