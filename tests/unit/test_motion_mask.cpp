// The full-size motion mask: block replication and its edge cases.
#include "detector/DetectorStages.h"
#include "detector/scaling/FrameScaling.h"

#include <gtest/gtest.h>

#include <vector>

using namespace motion;

namespace {

bool feed(MotionDetector& d, int w, int h) {
    std::vector<uint8_t> frame(size_t(w) * h, 50);
    return d.processFrame(frame.data(), w, h, nullptr);
}

} // namespace

TEST(MotionMask, NothingIsWrittenBeforeTheFirstFrame) {
    MotionDetector d;
    std::vector<uint8_t> dst(64, 7);
    d.getMotionMask(dst.data());
    d.reset();
    d.getMotionMask(dst.data());
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 7));
}

TEST(MotionMask, FactorOneIsACopy) {
    std::vector<uint8_t> mask(40 * 32);
    for (int i = 0; i < 40 * 32; ++i) mask[i] = i % 3 ? 255 : 0;
    std::vector<uint8_t> dst(40 * 32, 9);
    enlargeMask(mask.data(), 40, 32, 1, 40, 32, dst.data());
    EXPECT_EQ(dst, mask);
}

TEST(MotionMask, EachScaledPixelFillsItsBlock) {
    std::vector<uint8_t> mask(160 * 120, 0);
    mask[5 * 160 + 10] = 255;
    std::vector<uint8_t> dst(640 * 480, 9);
    enlargeMask(mask.data(), 160, 120, 4, 640, 480, dst.data());
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const bool inBlock = x >= 40 && x <= 43 && y >= 20 && y <= 23;
            ASSERT_EQ(dst[size_t(y) * 640 + x], inBlock ? 255 : 0) << x << "," << y;
        }
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 4));
    ASSERT_TRUE(feed(d, 640, 480));
    d.reset();
    d.getMotionMask(dst.data());
    EXPECT_EQ(dst, std::vector<uint8_t>(640 * 480, 0));
}

TEST(MotionMask, UndividedFrameAfterAScaleChangeStaysInBoundsWithBackgroundStrips) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 70, 50));
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 3)); // 23 x 16 scaled pixels cover 69 x 48
    ASSERT_EQ(stagesOf(d).scaledWidth, 23);
    ASSERT_EQ(stagesOf(d).scaledHeight, 16);
    const std::vector<uint8_t> mask(23 * 16, 255);
    std::vector<uint8_t> dst(70 * 50 + 16, 9); // guard bytes after the frame
    enlargeMask(mask.data(), 23, 16, 3, 70, 50, dst.data());
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 70; ++x)
            ASSERT_EQ(dst[size_t(y) * 70 + x], x < 69 && y < 48 ? 255 : 0) << x << "," << y;
    for (size_t i = 70 * 50; i < dst.size(); ++i) EXPECT_EQ(dst[i], 9);
}
