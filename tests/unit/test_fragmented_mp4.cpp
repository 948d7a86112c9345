// Fragmented MP4 clips play whole, and cut short still play up to their last
// whole second, to which the repair after a crash cuts them.
#include "events/EventHistory.h"
#include "io/FragmentedMp4Writer.h"
#include "io/QuietLibraries.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Frames readable from the file, and their size.
std::pair<int, cv::Size> decodedFrames(const fs::path& path) {
    cv::VideoCapture capture(path.string(), cv::CAP_FFMPEG);
    cv::Mat frame;
    int count = 0;
    cv::Size size;
    while (capture.read(frame)) {
        size = frame.size();
        ++count;
    }
    return {count, size};
}

// The file offsets at which each top-level box of type `type` ends.
std::vector<size_t> boxEnds(const fs::path& path, const std::string& type) {
    std::ifstream in(path, std::ios::binary);
    std::vector<size_t> ends;
    size_t at = 0;
    unsigned char header[8];
    while (in.seekg(static_cast<std::streamoff>(at)) && in.read(reinterpret_cast<char*>(header), 8)) {
        const size_t size = size_t(header[0]) << 24 | size_t(header[1]) << 16 | size_t(header[2]) << 8 | header[3];
        if (size < 8) break;
        at += size;
        if (std::string(reinterpret_cast<char*>(header) + 4, 4) == type) ends.push_back(at);
    }
    return ends;
}

// Frame i of a square moving to the right.
cv::Mat squareFrame(cv::Size size, int i) {
    cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 70, 80));
    cv::rectangle(frame, cv::Rect(4 + 2 * i, 40, 20, 20), cv::Scalar(230, 230, 230), cv::FILLED);
    return frame;
}

// A clip of such frames; returns the frames its writer says it holds.
long long writeClip(const fs::path& path, double fps, int frames, cv::Size size) {
    FragmentedMp4Writer writer;
    EXPECT_TRUE(writer.open(path.string(), fps, size)) << writer.error();
    for (int i = 0; i < frames; ++i) EXPECT_TRUE(writer.write(squareFrame(size, i))) << writer.error();
    return writer.close();
}

void copyPrefix(const fs::path& from, const fs::path& to, size_t bytes) {
    std::ifstream in(from, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(to, std::ios::binary) << data.substr(0, bytes);
}

} // namespace

TEST(FragmentedMp4Writer, PlaysWholeAndCutShortUpToItsLastWholeSecond) {
    quietLibraryLogging(); // OpenCV's decoder would report the torn frame of the cut file
    const fs::path directory = fs::temp_directory_path() / ("motion_mp4_" + std::to_string(getpid()));
    fs::create_directories(directory);
    const fs::path clip = directory / "clip.mp4";
    const double fps = 15;
    const int frames = 60; // four fragments of a second
    const cv::Size size(161, 121); // odd: 4:2:0 needs a column and a row more

    FragmentedMp4Writer writer;
    ASSERT_TRUE(writer.open(clip.string(), fps, size)) << writer.error();
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(writer.write(squareFrame(size, i))) << writer.error();
    EXPECT_FALSE(writer.write(cv::Mat(10, 10, CV_8UC3))); // not the clip's size
    EXPECT_EQ(writer.close(), frames);
    EXPECT_FALSE(writer.isOpen());

    const size_t length = fs::file_size(clip);
    const auto [whole, decodedSize] = decodedFrames(clip);
    EXPECT_EQ(whole, frames);
    EXPECT_EQ(decodedSize, cv::Size(162, 122));

    // A fragment (moof, then mdat) per second of frames, each written
    // whole: cut within the third, the first two still play, and the repair
    // after a crash cuts the torn one off and counts them.
    const std::vector<size_t> fragmentEnds = boxEnds(clip, "mdat");
    ASSERT_EQ(fragmentEnds.size(), size_t(frames / fps));
    EXPECT_EQ(boxEnds(clip, "moof").size(), fragmentEnds.size());
    const fs::path cut = directory / "cut.mp4";
    copyPrefix(clip, cut, fragmentEnds[2] - 1);
    const int playable = decodedFrames(cut).first;
    EXPECT_GE(playable, 2 * static_cast<int>(fps));
    EXPECT_LT(playable, frames);
    std::string error;
    EXPECT_EQ(repairFragmentedMp4(cut.string(), error), 2 * static_cast<int>(fps)) << error;
    EXPECT_EQ(fs::file_size(cut), fragmentEnds[1]);
    EXPECT_EQ(decodedFrames(cut).first, 2 * static_cast<int>(fps));
    EXPECT_EQ(repairFragmentedMp4(clip.string(), error), frames); // a whole file stays as it is
    EXPECT_EQ(fs::file_size(clip), length);

    // Cut before its first fragment: nothing to play, nothing left.
    copyPrefix(clip, cut, fragmentEnds[0] - 1);
    EXPECT_EQ(repairFragmentedMp4(cut.string(), error), 0);
    EXPECT_FALSE(fs::exists(cut));

    EXPECT_FALSE(writer.open((directory / "no" / "such" / "dir.mp4").string(), fps, size));
    EXPECT_NE(writer.error(), "");
    fs::remove_all(directory);
}

// A watcher killed in the middle of an event left its MP4 clip torn; the
// next start finds it by the start line and cuts it to its whole seconds.
TEST(FragmentedMp4Writer, TheRepairAfterACrashFindsAndCutsTheClip) {
    quietLibraryLogging();
    const fs::path directory = fs::temp_directory_path() / ("motion_mp4_crash_" + std::to_string(getpid()));
    fs::create_directories(directory);
    const fs::path whole = directory / "whole.mp4";
    ASSERT_EQ(writeClip(whole, 10, 30, cv::Size(96, 64)), 30);
    const std::vector<size_t> fragmentEnds = boxEnds(whole, "mdat");
    ASSERT_EQ(fragmentEnds.size(), 3u);
    copyPrefix(whole, directory / "event_20261207_181502_0001.mp4", fragmentEnds[1] + 100);
    std::ofstream(directory / "events.jsonl")
        << R"({"type":"start","event":1,"frame":40,"t":4.000,"time":"2026-12-07T18:15:02+01:00"})" << "\n";

    const EventHistory history = recoverEventHistory(directory);
    ASSERT_EQ(history.interrupted.size(), 1u);
    EXPECT_EQ(history.interrupted[0].files.clip, "event_20261207_181502_0001.mp4");
    EXPECT_EQ(history.interrupted[0].files.clipFrames, 20);
    EXPECT_EQ(fs::file_size(directory / "event_20261207_181502_0001.mp4"), fragmentEnds[1]);
    fs::remove_all(directory);
}
