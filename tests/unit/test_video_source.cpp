// Choosing the video source from its text, opening it, looping a file and
// pacing its playback.
#include "io/VideoSource.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace std::chrono_literals;

// Writes a small Motion-JPEG file whose frame i is a flat grey of 40 * i.
std::string writeVideo(const std::string& name, double fps, int frames) {
    const std::string path = ::testing::TempDir() + name;
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, cv::Size(64, 48), true);
    for (int i = 0; i < frames; ++i) writer << cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(40 * i));
    return path;
}

int greyOf(const cv::Mat& frame) {
    return static_cast<int>(std::lround(cv::mean(frame)[0]));
}

TEST(SourceText, FiveBytesOrMoreIsAFileOrAStream) {
    EXPECT_EQ(classifySource(""), SourceKind::Camera);
    EXPECT_EQ(classifySource("0"), SourceKind::Camera);
    EXPECT_EQ(classifySource("a.mp"), SourceKind::Camera);
    EXPECT_EQ(classifySource("a.mp4"), SourceKind::File);
    // Bytes, not characters: "é" is two bytes in UTF-8.
    EXPECT_EQ(classifySource("\xC3\xA9.a"), SourceKind::Camera);
    EXPECT_EQ(classifySource("\xC3\xA9\xC3\xA9.a"), SourceKind::File);
    EXPECT_EQ(classifySource("rtsp://127.0.0.1/cam"), SourceKind::Stream);
    EXPECT_EQ(classifySource("a://"), SourceKind::Camera);
    EXPECT_TRUE(isLive(classifySource("http://h/x")) && isLive(classifySource("0")));
    EXPECT_FALSE(isLive(classifySource("clip.avi")));
}

TEST(SourceText, OnlyTheExactReservedTextOpensTheDialog) {
    EXPECT_EQ(classifySource("open file dialog"), SourceKind::FileDialog);
    EXPECT_EQ(classifySource("Open file dialog"), SourceKind::File);
    EXPECT_EQ(classifySource("open file dialog "), SourceKind::File);
    EXPECT_EQ(classifySource("open"), SourceKind::Camera);
}

TEST(SourceText, CameraIndexReadsLikeTheCLibrary) {
    EXPECT_EQ(cameraIndex("0"), 0);
    EXPECT_EQ(cameraIndex("12ab"), 12);
    EXPECT_EQ(cameraIndex(" 3"), 3);
    EXPECT_EQ(cameraIndex("\t5"), 5);
    EXPECT_EQ(cameraIndex("-1"), -1);
    EXPECT_EQ(cameraIndex("+7"), 7);
    EXPECT_EQ(cameraIndex("0x1"), 0);
}

TEST(SourceText, TextWithoutANumberHasNoCameraIndex) {
    for (const char* text : {"", "-", "+", " ", "a.mp", "- 1"}) EXPECT_FALSE(cameraIndex(text).has_value()) << '"' << text << '"';
}

TEST(SourceFps, OnlyRatesStrictlyBetweenOneAndSixtyAreKept) {
    EXPECT_DOUBLE_EQ(clampSourceFps(10.0), 10.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(59.94), 59.94);
    EXPECT_DOUBLE_EQ(clampSourceFps(1.0001), 1.0001);
    EXPECT_DOUBLE_EQ(clampSourceFps(60.0), 30.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(1.0), 30.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(0.0), 30.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(-25.0), 30.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(std::numeric_limits<double>::infinity()), 30.0);
    EXPECT_DOUBLE_EQ(clampSourceFps(std::nan("")), 30.0);
}

TEST(OpenSource, FileGivesItsSizeAndClampedRate) {
    cv::VideoCapture capture;
    const SourceOpening at12 = openVideoSource(writeVideo("source_12fps.avi", 12.0, 3), capture);
    EXPECT_EQ(at12.failureMessage, nullptr);
    EXPECT_EQ(at12.frameWidth, 64);
    EXPECT_EQ(at12.frameHeight, 48);
    EXPECT_DOUBLE_EQ(at12.sourceFps, 12.0);

    cv::VideoCapture fast;
    EXPECT_DOUBLE_EQ(openVideoSource(writeVideo("source_60fps.avi", 60.0, 3), fast).sourceFps, 30.0);
}

TEST(OpenSource, FailuresNameTheirKind) {
    cv::VideoCapture capture;
    EXPECT_STREQ(openVideoSource(::testing::TempDir() + "missing.avi", capture).failureMessage, "Video file not open");
    EXPECT_STREQ(openVideoSource("Open file dialog", capture).failureMessage, "Video file not open");
    // Not a number: fails like an absent camera instead of crashing.
    for (const char* text : {"", "-", "a.mp"}) {
        EXPECT_STREQ(openVideoSource(text, capture).failureMessage, "Camera not open") << '"' << text << '"';
        EXPECT_FALSE(capture.isOpened());
    }
}

TEST(EndOfStream, FileRestartsAtItsSecondFrame) {
    const std::string text = writeVideo("source_loop.avi", 10.0, 4);
    cv::VideoCapture capture;
    ASSERT_EQ(openVideoSource(text, capture).failureMessage, nullptr);
    cv::Mat frame;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(capture.read(frame));
    EXPECT_FALSE(capture.read(frame));
    rewindAtEndOfStream(text, capture);
    ASSERT_TRUE(capture.read(frame));
    EXPECT_NEAR(greyOf(frame), 40, 3);
}

TEST(EndOfStream, CameraIsNeverRepositioned) {
    // A file capture stands in for the camera: with a camera's text the
    // step must leave the position alone.
    cv::VideoCapture capture(writeVideo("source_camera.avi", 10.0, 4), cv::CAP_ANY);
    cv::Mat frame;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(capture.read(frame));
    rewindAtEndOfStream("0", capture);
    ASSERT_TRUE(capture.read(frame));
    EXPECT_NEAR(greyOf(frame), 120, 3);
}

// A pacing clock that only moves when the pacing sleeps.
struct DrivenClock {
    std::chrono::steady_clock::time_point time{std::chrono::seconds(1700000000)};
    int sleeps = 0;
    std::chrono::steady_clock::time_point now() const { return time; }
    void sleepOneMillisecond() {
        time += 1ms;
        ++sleeps;
    }
};

int sleepsFor(const std::string& text, double fps, std::chrono::steady_clock::duration alreadyElapsed) {
    DrivenClock clock;
    const auto lastPassTime = clock.time - alreadyElapsed;
    paceSource(text, fps, lastPassTime, clock);
    return clock.sleeps;
}

TEST(Pacing, FileWaitsOutTheRestOfTheFramePeriod) {
    EXPECT_EQ(sleepsFor("clip.avi", 10.0, 30ms), 70);
    EXPECT_EQ(sleepsFor("clip.avi", 30.0, 0ms), 34); // 33333.3 us: 33 ms is still short
    EXPECT_EQ(sleepsFor("clip.avi", 20.0, 50ms), 0); // equal ends the wait
    EXPECT_EQ(sleepsFor("clip.avi", 20.0, 80ms), 0); // a slow pass is not made up for
}

TEST(Pacing, ElapsedTimeIsTruncatedToWholeMicroseconds) {
    // 59.94 fps: the period is 16683.35 us; 16683.9 us elapsed counts as
    // 16683 and is still short of it.
    EXPECT_EQ(sleepsFor("clip.avi", 59.94, 16683900ns), 1);
    EXPECT_EQ(sleepsFor("clip.avi", 59.94, 16684000ns), 0);
}

TEST(Pacing, APassThatTookMinutesOrDaysIsNotWaitedOn) {
    // The program stopped (Ctrl+Z) and continued: elapsed times beyond the
    // 32-bit range of microseconds (71.6 minutes) and below it.
    for (const std::chrono::minutes gap : {36min, 40min, 72min, 3 * 24 * 60min}) EXPECT_EQ(sleepsFor("clip.avi", 30.0, gap), 0);
}

TEST(Pacing, CameraIsNeverPaced) {
    EXPECT_EQ(sleepsFor("0", 10.0, 0ms), 0);
}

} // namespace
