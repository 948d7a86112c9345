// Frame intake: block-mean downscaling and refused frames.
#include "detector/DetectorStages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace motion;

namespace {

std::vector<uint8_t> scaledBytes(MotionDetector& d) {
    const uint8_t* s = stagesOf(d).scaledFrame.get();
    return {s, s + size_t(stagesOf(d).scaledWidth) * stagesOf(d).scaledHeight};
}

// Truncated mean of each block, summed pixel by pixel.
std::vector<uint8_t> blockMeans(const std::vector<uint8_t>& frame, int width, int height, int f) {
    std::vector<uint8_t> out;
    for (int by = 0; by < height / f; ++by)
        for (int bx = 0; bx < width / f; ++bx) {
            unsigned sum = 0;
            for (int y = by * f; y < by * f + f; ++y)
                for (int x = bx * f; x < bx * f + f; ++x) sum += frame[size_t(y) * width + x];
            out.push_back(uint8_t(sum / unsigned(f * f)));
        }
    return out;
}

} // namespace

TEST(Downscale, EveryFactorTakesTruncatedBlockMeans) {
    std::mt19937 rng(3);
    const int width = 840; // divisible by 1..8
    for (int f = 1; f <= 8; ++f) {
        const int height = 40 * f;
        std::vector<uint8_t> frame(size_t(width) * height);
        for (uint8_t& v : frame) v = uint8_t(rng());
        std::fill_n(frame.begin(), width * f, uint8_t{255}); // the top row of blocks reaches the maximum
        MotionDetector d;
        ASSERT_TRUE(d.setParam(SCALE_FACTOR, f));
        ASSERT_TRUE(d.processFrame(frame.data(), width, height, nullptr));
        EXPECT_EQ(scaledBytes(d), blockMeans(frame, width, height, f)) << "factor " << f;
    }
}

TEST(Downscale, WorkedExamples) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 2));
    std::vector<uint8_t> frame(64 * 32, 0);
    frame[0] = 200, frame[1] = 200, frame[64] = 200, frame[65] = 200;
    frame[2] = 1, frame[3] = 2, frame[66] = 3, frame[67] = 4;
    ASSERT_TRUE(d.processFrame(frame.data(), 64, 32, nullptr));
    std::vector<uint8_t> expected(32 * 16, 0);
    expected[0] = 200;
    expected[1] = 2; // 10 / 4
    EXPECT_EQ(scaledBytes(d), expected);

    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 3));
    std::vector<uint8_t> frame3(33 * 33, 255);
    const uint8_t block[9] = {255, 255, 255, 255, 255, 255, 255, 255, 254}; // sum 2294
    for (int i = 0; i < 9; ++i) frame3[size_t(i / 3) * 33 + i % 3] = block[i];
    ASSERT_TRUE(d.processFrame(frame3.data(), 33, 33, nullptr));
    EXPECT_EQ(stagesOf(d).scaledFrame.get()[0], 254);
    EXPECT_EQ(stagesOf(d).scaledFrame.get()[1], 255);
}

TEST(FrameIntake, RefusedFrameKeepsEveryBufferAndItsContents) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 4));
    std::vector<uint8_t> frame(640 * 480);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i % 640 < 320 ? 40 : 200);
    ASSERT_TRUE(d.processFrame(frame.data(), 640, 480, nullptr));
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i % 640 < 320 ? 200 : 40);
    ASSERT_TRUE(d.processFrame(frame.data(), 640, 480, nullptr));
    const uint8_t* maskBefore = stagesOf(d).background.mask();
    const uint8_t* scaledBefore = stagesOf(d).scaledFrame.get();
    const std::vector<uint8_t> mask(maskBefore, maskBefore + 160 * 120);
    const std::vector<uint8_t> scaled = scaledBytes(d);
    std::vector<PixelModel> models;
    for (int i = 0; i < 160 * 120; ++i) models.push_back(stagesOf(d).background.model(i));

    std::vector<uint8_t> other(642 * 480, 99);
    EXPECT_FALSE(d.processFrame(other.data(), 642, 480, nullptr));
    EXPECT_FALSE(d.processFrame(other.data(), 480, 31, nullptr));

    EXPECT_EQ(stagesOf(d).background.mask(), maskBefore);
    EXPECT_EQ(stagesOf(d).scaledFrame.get(), scaledBefore);
    EXPECT_EQ(std::vector<uint8_t>(maskBefore, maskBefore + 160 * 120), mask);
    EXPECT_EQ(scaledBytes(d), scaled);
    for (int i = 0; i < 160 * 120; ++i) {
        const PixelModel m = stagesOf(d).background.model(i);
        ASSERT_EQ(std::memcmp(m.components, models[i].components, sizeof m.components), 0) << i;
        ASSERT_EQ(m.initialized, models[i].initialized) << i;
    }
    EXPECT_GT(std::count(mask.begin(), mask.end(), 255), 0) << "the second frame should leave motion";
}
