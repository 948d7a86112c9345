// Relearning the background at once when the light changes suddenly.
#include "detector/MotionDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using Frame = std::vector<uint8_t>;

struct Scene {
    int width, height;
    MotionDetector detector;

    Scene(int w, int h, double fraction) : width(w), height(h) {
        EXPECT_TRUE(detector.setParam(LIGHTING_CHANGE_FRACTION, fraction));
    }

    // Motion pixels of the frame.
    int feed(const Frame& frame, const uint8_t* regionMask = nullptr) {
        EXPECT_TRUE(detector.processFrame(frame.data(), width, height, regionMask));
        Frame mask(frame.size());
        detector.getMotionMask(mask.data());
        return int(std::count(mask.begin(), mask.end(), uint8_t{255}));
    }
};

// A textured background, lifted by `light`, with a bright 10 x 10 square at x.
Frame squareFrame(int w, int h, int x, int light) {
    Frame f(size_t(w) * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const bool square = c >= x && c < x + 10 && r >= 40 && r < 50;
            f[size_t(r) * w + c] = uint8_t((square ? 200 : 40 + (r * 7 + c * 3) % 30) + light);
        }
    return f;
}

std::vector<int32_t> ids(MotionDetector& d) {
    std::vector<int32_t> found;
    for (const DetectedObject& o : d.getObjects()) found.push_back(o.objectId);
    return found;
}

} // namespace

// The step frame is learned afresh, as by a detector that starts with it
// (every later mask is the same), shows no motion, and the square keeps the
// identifier it had before the step; on one thread and on a team.
TEST(LightingChange, GlobalStepRelearnsInOneFrameAndKeepsTheObject) {
    const int w = 128, h = 96, step = 40, light = 45;
    for (int threads : {1, 2}) {
        Scene relearning(w, h, 0.2), reference(w, h, 0);
        ASSERT_TRUE(relearning.detector.setParam(NUM_THREADS, threads));
        std::vector<int32_t> before;
        for (int t = 0; t < step; ++t) {
            relearning.feed(squareFrame(w, h, 2 * t, 0));
            before = ids(relearning.detector);
        }
        ASSERT_EQ(before.size(), 1u);

        EXPECT_EQ(relearning.feed(squareFrame(w, h, 2 * step, light)), 0);
        reference.feed(squareFrame(w, h, 2 * step, light));
        std::vector<int32_t> after;
        for (int t = step + 1; t < step + 8; ++t) {
            const Frame frame = squareFrame(w, h, 2 * t, light);
            const int motion = relearning.feed(frame);
            EXPECT_EQ(motion, reference.feed(frame)) << threads << " " << t;
            EXPECT_LT(motion, w * h / 20) << threads << " " << t;
            const std::vector<int32_t> reported = ids(relearning.detector);
            after.insert(after.end(), reported.begin(), reported.end());
        }
        EXPECT_FALSE(after.empty()) << threads;
        for (int32_t id : after) EXPECT_EQ(id, before[0]) << threads;
    }
}

// The share of motion must exceed the fraction: 1024 of 4096 pixels is
// exactly a quarter and leaves the background as it is, one pixel more
// relearns it.
TEST(LightingChange, OnlyAShareAboveTheFractionRelearns) {
    for (int changed : {1024, 1025}) {
        Scene s(64, 64, 0.25);
        Frame frame(64 * 64, 50);
        for (int t = 0; t < 5; ++t) s.feed(frame);
        std::fill_n(frame.begin(), changed, uint8_t{200});
        EXPECT_EQ(s.feed(frame), changed == 1024 ? 1024 : 0) << changed;
    }
}

// With a region mask only the watched pixels count (here all of them change,
// half of the frame) and only they are relearned: the others still hold the
// old background, and show the new light as motion once they are watched.
TEST(LightingChange, ExcludedPixelsAreNeitherCountedNorRelearned) {
    const int w = 64, h = 64;
    Frame region(size_t(w) * h, 0);
    for (int r = 0; r < h; ++r) std::fill_n(region.begin() + r * w, w / 2, uint8_t(r % 2 ? 1 : 9));
    Scene s(w, h, 0.6);
    for (int t = 0; t < 5; ++t) s.feed(Frame(size_t(w) * h, 50), t < 3 ? nullptr : region.data());
    EXPECT_EQ(s.feed(Frame(size_t(w) * h, 150), region.data()), 0);

    s.feed(Frame(size_t(w) * h, 150));
    Frame mask(size_t(w) * h);
    s.detector.getMotionMask(mask.data());
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(mask[size_t(i)], region[size_t(i)] ? 0 : 255) << i;
}

// A light that keeps changing is relearned on track_reset_criterion - 1
// frames in a row (at least one), then learned as usual; a calm frame starts
// a new count.
TEST(LightingChange, ConsecutiveRelearnsAreBoundedByTheTrackResetCriterion) {
    for (int resetCriterion : {5, 2, 0}) {
        Scene s(64, 64, 0.5);
        ASSERT_TRUE(s.detector.setParam(TRACK_RESET_CRITERION, resetCriterion));
        ASSERT_TRUE(s.detector.setParam(PIXEL_DEVIATION, 4)); // 10 grey levels are a change
        const int bound = std::max(1, resetCriterion - 1);
        for (int round = 0; round < 2; ++round) {
            int calm = 0;
            for (int t = 0; t < 60; ++t) calm = s.feed(Frame(64 * 64, 50));
            ASSERT_EQ(calm, 0);
            for (int t = 0; t < bound + 2; ++t) {
                // Every frame unlike all before, also those of the first round.
                const int motion = s.feed(Frame(64 * 64, uint8_t(65 + 15 * t + 100 * round)));
                EXPECT_EQ(motion == 0, t < bound) << resetCriterion << " " << t;
            }
        }
    }
}
