// Recording: file names, collisions, the written file, and a file that
// cannot be written.
#include "io/Recorder.h"
#include "io/UniqueFile.h"

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

std::tm sixthOfDecember() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 7;
    t.tm_min = 27;
    t.tm_sec = 24;
    return t;
}

// Runs a test inside a directory of its own; recordings land in the working
// directory.
class InDirectory {
public:
    explicit InDirectory(const fs::path& dir) : previous(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(previous); }

private:
    fs::path previous;
};

std::set<std::string> recordingsIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".avi") names.insert(entry.path().filename().string());
    return names;
}

TEST(RecordingName, DayMonthYearHourMinuteSecond) {
    EXPECT_EQ(recordingStem(sixthOfDecember()), "record_06_12_2026_07_27_24");
}

class RecorderTest : public ::testing::Test {
protected:
    // One directory per test: CTest may run the tests side by side.
    fs::path dir = fs::path(::testing::TempDir()) /
                   (std::string("recorder_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(RecorderTest, WritesMotionJpegAtThirtyFramesPerSecond) {
    InDirectory inside(dir);
    Recorder recorder(cv::Size(64, 48));
    EXPECT_FALSE(recorder.isRecording());
    recorder.toggle();
    ASSERT_TRUE(recorder.isRecording());
    for (int i = 0; i < 3; ++i) recorder.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(0, 0, 200)));
    recorder.toggle();
    EXPECT_FALSE(recorder.isRecording());

    const std::set<std::string> names = recordingsIn(dir);
    ASSERT_EQ(names.size(), 1u);
    cv::VideoCapture file((dir / *names.begin()).string(), cv::CAP_ANY);
    ASSERT_TRUE(file.isOpened());
    EXPECT_EQ(static_cast<int>(file.get(cv::CAP_PROP_FOURCC)), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'));
    EXPECT_DOUBLE_EQ(file.get(cv::CAP_PROP_FPS), 30.0);
    cv::Mat frame;
    int frames = 0;
    while (file.read(frame)) {
        ++frames;
        EXPECT_EQ(frame.size(), cv::Size(64, 48));
        EXPECT_GT(cv::mean(frame)[2], 150.0); // colour kept
    }
    EXPECT_EQ(frames, 3);
}

TEST_F(RecorderTest, RecordingsInTheSameSecondKeepEachOther) {
    InDirectory inside(dir);
    Recorder recorder(cv::Size(64, 48));
    for (int i = 0; i < 3; ++i) {
        recorder.toggle();
        recorder.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(i * 50)));
        recorder.toggle();
    }
    EXPECT_EQ(recordingsIn(dir).size(), 3u);
}

TEST_F(RecorderTest, TakenNamesGetTheFirstFreeSuffix) {
    for (const char* taken : {"clip.avi", "clip_1.avi", "clip_2.jpg"}) std::ofstream(dir / taken) << "x";
    // clip_2 is passed over for its companion snapshot.
    EXPECT_EQ(createUniqueFile(dir, "clip", ".avi", {".jpg"}), "clip_3");
    EXPECT_EQ(fs::file_size(dir / "clip_3.avi"), 0u);
    EXPECT_EQ(fs::file_size(dir / "clip.avi"), 1u); // nothing overwritten
    EXPECT_EQ(createUniqueFile(dir, "other", ".avi"), "other");
}

TEST_F(RecorderTest, AFileThatCannotBeWrittenIsNotARecording) {
    // Nothing can create files in /proc, not even root.
    InDirectory inside("/proc");
    Recorder recorder(cv::Size(64, 48));
    ::testing::internal::CaptureStdout();
    recorder.toggle();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(printed.rfind("Recording could not be started: record_", 0), 0u) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
}

} // namespace
