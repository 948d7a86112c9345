// The watcher's own decoder against OpenCV's reader: every frame's colour
// the same to the byte, every position the same, on the sample (a frame
// height the codec codes as it is) and on an H.264 file of 1080 lines (coded
// as 1088, which OpenCV converts at the coded size).
#include "io/DirectDecoder.h"
#include "io/FragmentedMp4Writer.h"
#include "io/FrameReader.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds patience(10);

void expectSameAsOpenCv(const std::string& path) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    ASSERT_TRUE(capture.isOpened()) << path;
    DirectDecoder decoder;
    ASSERT_TRUE(decoder.open(path, patience)) << path;
    EXPECT_EQ(decoder.fps(), capture.get(cv::CAP_PROP_FPS));
    EXPECT_EQ(double(decoder.frameCount()), capture.get(cv::CAP_PROP_FRAME_COUNT));
    EXPECT_EQ(decoder.width(), int(capture.get(cv::CAP_PROP_FRAME_WIDTH)));
    EXPECT_EQ(decoder.height(), int(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
    cv::Mat expected;
    int frames = 0;
    while (capture.read(expected)) {
        const std::shared_ptr<const DecodedPicture> picture = decoder.read(patience);
        ASSERT_TRUE(picture) << "frame " << frames;
        const cv::Mat colour = picture->colour();
        ASSERT_EQ(colour.size(), expected.size());
        ASSERT_EQ(cv::norm(colour, expected, cv::NORM_INF), 0.0) << "frame " << frames;
        ASSERT_EQ(decoder.position(), capture.get(cv::CAP_PROP_POS_MSEC) / 1000.0) << "frame " << frames;
        ++frames;
    }
    EXPECT_FALSE(decoder.read(patience)) << "more frames than OpenCV's reader gives";
    EXPECT_GT(frames, 0);
}

} // namespace

TEST(DirectDecoder, GivesOpenCvsColourAndPositionForEveryFrame) {
    expectSameAsOpenCv(MOTION_SOURCE_DIR "/samples/vtest.avi");

    const fs::path clip = fs::temp_directory_path() / ("motion_direct_" + std::to_string(getpid()) + ".mp4");
    const cv::Size size(1920, 1080);
    FragmentedMp4Writer writer;
    ASSERT_TRUE(writer.open(clip.string(), 10.0, size)) << writer.error();
    std::mt19937 random(7);
    for (int i = 0; i < 15; ++i) {
        cv::Mat frame(size, CV_8UC3);
        cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(255));
        cv::GaussianBlur(frame, frame, cv::Size(31, 31), 0); // colour edges that differ by chroma, not only luma
        cv::rectangle(frame, cv::Rect(60 * i, 300, 200, 500), cv::Scalar(40, 200, 90), cv::FILLED);
        ASSERT_TRUE(writer.write(frame));
    }
    ASSERT_EQ(writer.close(), 15);
    expectSameAsOpenCv(clip.string());
    if (!HasFailure()) fs::remove(clip);
}

// The fast input's grey is the luma plane itself, and the frame still turns
// colour (with its objects) for whoever looks.
TEST(DirectDecoder, TheFastInputDetectsOnLumaAndStillAnnotatesInColour) {
    FrameReader reader(MOTION_SOURCE_DIR "/samples/vtest.avi", GreyInput::Luma);
    ASSERT_EQ(reader.open().failureMessage, nullptr);
    TimedFrame timed;
    ASSERT_EQ(reader.next(timed, patience), FrameReader::Result::Frame);
    cv::Mat grey, exact;
    timed.frame.grey(grey);
    DetectedObject box{};
    box.x0 = 10, box.y0 = 20, box.x1 = 30, box.y1 = 40, box.objectId = 1;
    timed.frame.setObjects({box});
    const cv::Mat& annotated = timed.frame.annotated();
    ASSERT_EQ(annotated.size(), cv::Size(768, 576));
    cv::cvtColor(annotated, exact, cv::COLOR_BGR2GRAY);
    // Luma is limited-range and the box is not in it; away from the box the
    // two greys stay within a few levels.
    const cv::Rect away(100, 100, 600, 400);
    EXPECT_LE(cv::norm(grey(away), exact(away), cv::NORM_INF), 40.0);
    EXPECT_GT(cv::norm(grey(away), exact(away), cv::NORM_L1), 0.0);
    EXPECT_EQ(annotated.at<cv::Vec3b>(20, 10), cv::Vec3b(0, 0, 255)) << "the box's corner is red";
}
