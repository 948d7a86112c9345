// Region masks: the rule from image to the detector's grid at its edges
// (half-watched blocks, resizing, colour, soft JPEG edges) and the mask
// following edits and scale factor changes.
#include "io/RegionMask.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>

#include <unistd.h>

namespace {

// A frame-sized grey mask, all watched except the first `excluded` pixels of
// the top left block, counted row by row.
cv::Mat blockWithExcluded(int factor, int excluded) {
    cv::Mat grey(32, 32, CV_8UC1, cv::Scalar(255));
    for (int k = 0; k < excluded; ++k) grey.at<uint8_t>(k / factor, k % factor) = 0;
    return grey;
}

std::string tempFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + name)).string();
}

TEST(RegionMaskRule, BlockIsWatchedOnlyWhenItsTruncatedMeanReaches128) {
    // 2 of 4 watched: mean 127; 3 of 4: 191. 4 of 9: 113; 5 of 9: 141.
    const auto corner = [](int factor, int excluded) {
        return reduceRegionMask(binariseRegionMask(blockWithExcluded(factor, excluded), {32, 32}), factor)[0];
    };
    EXPECT_EQ(corner(2, 2), 0);
    EXPECT_EQ(corner(2, 1), 1);
    EXPECT_EQ(corner(3, 5), 0);
    EXPECT_EQ(corner(3, 4), 1);
    // Grey 127 is dark, 128 light.
    EXPECT_EQ(reduceRegionMask(binariseRegionMask(cv::Mat(32, 32, CV_8UC1, cv::Scalar(127)), {32, 32}), 1)[0], 0);
    EXPECT_EQ(reduceRegionMask(binariseRegionMask(cv::Mat(32, 32, CV_8UC1, cv::Scalar(128)), {32, 32}), 1)[0], 1);
}

TEST(RegionMaskRule, ColourMaskOfAnotherSizeIsReadInBlueGreenRedOrderAndStretched) {
    // Orange (B 0, G 100, R 255) is grey 135 read in OpenCV's channel order,
    // 88 read the other way round; azure is the reverse. The 2 x 1 picture
    // covers a 64 x 32 frame, one colour per half.
    cv::Mat colour(1, 2, CV_8UC3, cv::Scalar(0, 100, 255));
    colour.at<cv::Vec3b>(0, 0) = {255, 100, 0};
    const std::string path = tempFile("colour_mask.png");
    ASSERT_TRUE(cv::imwrite(path, colour));
    RegionMask mask;
    ASSERT_TRUE(mask.load(path));
    std::filesystem::remove(path);
    const uint8_t* grid = mask.forFrame({64, 32}, 2);
    for (int x = 0; x < 32; ++x) EXPECT_EQ(grid[size_t(15) * 32 + x], x < 16 ? 0 : 1) << "column " << x;
}

// Soft edges put many grey values near 128 and blocks half light, half dark:
// thresholding the block means of the grey image instead of binarising
// first gives another answer, which this reference of the rule would catch.
TEST(RegionMaskRule, JpegWithSoftEdgesMatchesCountOfLightPixelsPerBlock) {
    cv::Mat soft(96, 128, CV_8UC1, cv::Scalar(0));
    cv::circle(soft, {60, 50}, 30, cv::Scalar(255), cv::FILLED);
    cv::GaussianBlur(soft, soft, {0, 0}, 6);
    const std::string path = tempFile("soft_mask.jpg");
    ASSERT_TRUE(cv::imwrite(path, soft));
    const cv::Mat loaded = readRegionMaskImage(path);
    const cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    std::filesystem::remove(path);
    for (int factor : {1, 3, 4}) {
        const std::vector<uint8_t> grid = reduceRegionMask(binariseRegionMask(loaded, grey.size()), factor);
        int differsFromGreyMean = 0;
        for (int by = 0; by < grey.rows / factor; ++by) {
            for (int bx = 0; bx < grey.cols / factor; ++bx) {
                const cv::Mat block = grey(cv::Rect(bx * factor, by * factor, factor, factor));
                const int light = cv::countNonZero(block >= 128);
                const uint8_t expected = 255 * light / (factor * factor) >= 128 ? 1 : 0;
                ASSERT_EQ(grid[size_t(by) * (grey.cols / factor) + bx], expected) << factor << " " << bx << "," << by;
                differsFromGreyMean += expected != (cv::mean(block)[0] >= 128 ? 1 : 0);
            }
        }
        if (factor > 1) {
            EXPECT_GT(differsFromGreyMean, 0) << "factor " << factor << " does not test the order";
        }
    }
}

TEST(RegionMask, FollowsEditsAndScaleFactorAndReadsNothingFromUnreadableFiles) {
    RegionMask mask;
    EXPECT_FALSE(mask.load("/nonexistent/mask.png"));
    EXPECT_EQ(mask.forFrame({64, 32}, 2), nullptr);

    mask.exclude({{0, 0}, {3, 0}, {3, 3}, {0, 3}}, {64, 32});
    const uint8_t* byTwo = mask.forFrame({64, 32}, 2);
    ASSERT_NE(byTwo, nullptr);
    EXPECT_EQ(byTwo[0], 0);
    EXPECT_EQ(byTwo[1], 0);
    EXPECT_EQ(byTwo[2], 1);
    const uint8_t* byFour = mask.forFrame({64, 32}, 4);
    EXPECT_EQ(byFour[0], 0);
    EXPECT_EQ(byFour[1], 1);
    EXPECT_EQ(cv::countNonZero(mask.atFrameSize({64, 32}) == 0), 16);

    mask.clear();
    EXPECT_EQ(mask.forFrame({64, 32}, 2), nullptr);
}

} // namespace
