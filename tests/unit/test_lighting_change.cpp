// Taking in a sudden change of light at once.
#include "detector/DetectorStages.h"
#include "detector/MotionDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using Frame = std::vector<uint8_t>;

// Feeds a frame w pixels wide and returns its number of motion pixels.
int feed(MotionDetector& d, const Frame& frame, int w, const uint8_t* regionMask = nullptr) {
    EXPECT_TRUE(d.processFrame(frame.data(), w, int(frame.size()) / w, regionMask));
    Frame mask(frame.size());
    d.getMotionMask(mask.data());
    return int(std::count(mask.begin(), mask.end(), uint8_t{255}));
}

// A textured 128 x 96 background, lifted by `light`, with a bright 10 x 10
// square at x.
Frame squareFrame(int x, int light) {
    Frame f(128 * 96);
    for (int r = 0; r < 96; ++r)
        for (int c = 0; c < 128; ++c) {
            const bool square = c >= x && c < x + 10 && r >= 40 && r < 50;
            f[size_t(r) * 128 + c] = uint8_t((square ? 200 : 40 + (r * 7 + c * 3) % 30) + light);
        }
    return f;
}

} // namespace

// Feeds the square moving 2 pixels a frame until `step`; returns its
// identifier.
int32_t squareUntil(MotionDetector& d, int step) {
    std::vector<DetectedObject> before;
    for (int t = 0; t < step; ++t) {
        feed(d, squareFrame(2 * t, 0), 128);
        before = d.getObjects();
    }
    EXPECT_EQ(before.size(), 1u);
    return before.empty() ? -1 : before[0].objectId;
}

// The square in front of another scene: a ramp from black to white.
Frame elsewhere(int x) {
    Frame f = squareFrame(x, 0);
    for (size_t i = 0; i < f.size(); ++i)
        if (f[i] < 200) f[i] = uint8_t(2 * (i % 128));
    return f;
}

// A global step moves every model to the new light at once: the step frame
// shows no motion, and from the next frame on exactly the square does (no
// ghost of where it stood) and keeps the identifier it had before; on one
// thread and on a team.
TEST(LightingChange, GlobalStepMovesTheModelsAndKeepsTheObject) {
    const int step = 40, light = 45;
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        MotionDetector d;
        ASSERT_TRUE(d.setParam(LIGHTING_CHANGE_FRACTION, 0.2) && d.setParam(NUM_THREADS, threads));
        const int32_t id = squareUntil(d, step);
        EXPECT_EQ(feed(d, squareFrame(2 * step, light), 128), 0);
        int reports = 0;
        for (int t = step + 1; t < step + 8; ++t) {
            EXPECT_EQ(feed(d, squareFrame(2 * t, light), 128), 10 * 10) << t;
            const std::vector<DetectedObject> objects = d.getObjects();
            for (const DetectedObject& o : objects) EXPECT_EQ(o.objectId, id) << t;
            reports += int(objects.size());
        }
        EXPECT_GT(reports, 0) << "a new track would need 15 frames to be reported";
    }
}

// A change that no rising curve explains (here the camera turned to another
// scene) is learned afresh, exactly as by a detector that starts with the
// step frame.
TEST(LightingChange, ChangeNoLightExplainsIsLearnedAfresh) {
    const int step = 40;
    MotionDetector d, reference;
    ASSERT_TRUE(d.setParam(LIGHTING_CHANGE_FRACTION, 0.2));
    squareUntil(d, step);
    EXPECT_EQ(feed(d, elsewhere(2 * step), 128), 0);
    feed(reference, elsewhere(2 * step), 128);
    for (int t = step + 1; t < step + 8; ++t) {
        const Frame frame = elsewhere(2 * t);
        EXPECT_EQ(feed(d, frame, 128), feed(reference, frame, 128)) << t;
    }
}

// The share of motion must exceed the fraction: 1024 of 4096 pixels is
// exactly a quarter and leaves the background as it is, one pixel more
// relearns it.
TEST(LightingChange, OnlyAShareAboveTheFractionRelearns) {
    for (int changed : {1024, 1025}) {
        MotionDetector d;
        ASSERT_TRUE(d.setParam(LIGHTING_CHANGE_FRACTION, 0.25));
        Frame frame(64 * 64, 50);
        for (int t = 0; t < 5; ++t) feed(d, frame, 64);
        std::fill_n(frame.begin(), changed, uint8_t{200});
        EXPECT_EQ(feed(d, frame, 64), changed == 1024 ? 1024 : 0) << changed;
    }
}

// With a region mask only the watched pixels count (here all of them change,
// half of the frame) and only they are relearned: the others still hold the
// old background, and show the new light as motion once they are watched.
TEST(LightingChange, ExcludedPixelsAreNeitherCountedNorRelearned) {
    Frame region(64 * 64, 0);
    for (int r = 0; r < 64; ++r) std::fill_n(region.begin() + r * 64, 32, uint8_t(r % 2 ? 1 : 9));
    MotionDetector d;
    ASSERT_TRUE(d.setParam(LIGHTING_CHANGE_FRACTION, 0.6));
    for (int t = 0; t < 5; ++t) feed(d, Frame(64 * 64, 50), 64, t < 3 ? nullptr : region.data());
    EXPECT_EQ(feed(d, Frame(64 * 64, 150), 64, region.data()), 0);
    EXPECT_TRUE(stagesOf(d).blobs.blobs().empty()) << "blobs of a frame taken in as a change of light";

    feed(d, Frame(64 * 64, 150), 64);
    Frame mask(64 * 64);
    d.getMotionMask(mask.data());
    for (size_t i = 0; i < mask.size(); ++i) ASSERT_EQ(mask[i], region[i] ? 0 : 255) << i;
}

// A light that keeps changing is relearned on track_reset_criterion - 1
// frames in a row (at least one), then learned as usual; a calm frame starts
// a new count.
TEST(LightingChange, ConsecutiveRelearnsAreBoundedByTheTrackResetCriterion) {
    for (int resetCriterion : {5, 0}) {
        MotionDetector d;
        ASSERT_TRUE(d.setParam(LIGHTING_CHANGE_FRACTION, 0.5) && d.setParam(TRACK_RESET_CRITERION, resetCriterion));
        ASSERT_TRUE(d.setParam(PIXEL_DEVIATION, 4)); // 10 grey levels are a change
        const int bound = std::max(1, resetCriterion - 1);
        for (int round = 0; round < 2; ++round) {
            int calm = 0;
            for (int t = 0; t < 60; ++t) calm = feed(d, Frame(64 * 64, 50), 64);
            ASSERT_EQ(calm, 0);
            for (int t = 0; t < bound + 2; ++t) {
                // Every frame unlike all before, also those of the first round.
                const int motion = feed(d, Frame(64 * 64, uint8_t(65 + 15 * t + 100 * round)), 64);
                EXPECT_EQ(motion == 0, t < bound) << resetCriterion << " " << t;
            }
        }
    }
}
