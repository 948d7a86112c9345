// The watcher's own decoder against OpenCV's reader: every frame's colour
// the same to the byte, every position the same, on the sample (a frame
// height the codec codes as it is) and on an H.264 file of 1080 lines (coded
// as 1088, which OpenCV converts at the coded size). And the source's
// packets, copied into a clip, against the source itself.
#include "events/PreCaptureBuffer.h"
#include "io/ClipWriter.h"
#include "io/DirectDecoder.h"
#include "io/FragmentedMp4Writer.h"
#include "io/FrameReader.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include <unistd.h>

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
    FrameReader reader(MOTION_SOURCE_DIR "/samples/vtest.avi", ReaderChoice{GreyInput::Luma});
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

// A clip that copies the source begins at the keyframe at or before the
// pre-capture's start and decodes to exactly the source's pictures from
// there: the packets travel untouched through the reader, the pre-capture
// and the clip writer.
TEST(DirectDecoder, ACopiedClipHoldsTheSourcesOwnPicturesFromAKeyframe) {
    const fs::path dir = fs::temp_directory_path() / ("motion_copy_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string source = (dir / "source.mp4").string(), clip = (dir / "clip.mp4").string();
    const cv::Size size(320, 240);
    FragmentedMp4Writer writer; // a keyframe every 10 frames (one a second)
    ASSERT_TRUE(writer.open(source, 10.0, size)) << writer.error();
    for (int i = 0; i < 30; ++i) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(30, 60, 90));
        cv::rectangle(frame, cv::Rect(8 * i, 40 + 4 * i, 40, 40), cv::Scalar(250, 250, 250), cv::FILLED);
        ASSERT_TRUE(writer.write(frame));
    }
    ASSERT_EQ(writer.close(), 30);

    FrameReader reader(source, ReaderChoice{GreyInput::Exact, true});
    ASSERT_EQ(reader.open().failureMessage, nullptr);
    PreCaptureBuffer preCapture(1.0, PreCaptureBuffer::defaultRawByteLimit, PreCaptureBuffer::Holding::Packets);
    ClipWriter copy(ClipFormat::Copy);
    ASSERT_TRUE(copy.open(clip, 10.0, size));
    TimedFrame timed;
    for (int i = 0; reader.next(timed, patience) == FrameReader::Result::Frame; ++i) {
        ASSERT_TRUE(timed.frame.packets()) << "frame " << i;
        if (i <= 25) preCapture.push(timed.frame, timed.t);
        if (i == 25) preCapture.forEach([&](const ClipFrame& frame) { copy.write(frame); }); // the event starts
        if (i > 25) copy.write(ClipFrame{cv::Mat(), nullptr, timed.frame.packets()});
    }
    // One second before frame 25 is frame 15; the keyframe before it, frame 10.
    ASSERT_EQ(copy.close(), 20) << copy.failure();
    cv::VideoCapture original(source, cv::CAP_FFMPEG), copied(clip, cv::CAP_FFMPEG);
    cv::Mat expected, got;
    for (int i = 0; i < 10; ++i) original.read(expected);
    for (int i = 10; i < 30; ++i) {
        ASSERT_TRUE(original.read(expected) && copied.read(got)) << "frame " << i;
        ASSERT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0) << "frame " << i;
    }
    EXPECT_FALSE(copied.read(got));
    if (!HasFailure()) fs::remove_all(dir);
}
