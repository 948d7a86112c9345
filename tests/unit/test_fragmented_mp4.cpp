// Fragmented MP4 clips play whole, and cut short still play up to their last
// complete second.
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

void copyPrefix(const fs::path& from, const fs::path& to, size_t bytes) {
    std::ifstream in(from, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(to, std::ios::binary) << data.substr(0, bytes);
}

} // namespace

TEST(FragmentedMp4Writer, PlaysWholeAndCutShortUpToItsLastSecond) {
    quietLibraryLogging(); // OpenCV's decoder would report the torn frame of the cut file
    const fs::path directory = fs::temp_directory_path() / ("motion_mp4_" + std::to_string(getpid()));
    fs::create_directories(directory);
    const fs::path clip = directory / "clip.mp4";
    const double fps = 15;
    const int frames = 60; // four fragments of a second
    const cv::Size size(161, 121); // odd: 4:2:0 needs a column and a row more

    FragmentedMp4Writer writer;
    ASSERT_TRUE(writer.open(clip.string(), fps, size)) << writer.error();
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(60, 70, 80));
        cv::rectangle(frame, cv::Rect(4 + 2 * i, 40, 20, 20), cv::Scalar(230, 230, 230), cv::FILLED);
        ASSERT_TRUE(writer.write(frame)) << writer.error();
    }
    EXPECT_FALSE(writer.write(cv::Mat(10, 10, CV_8UC3))); // not the clip's size
    EXPECT_EQ(writer.close(), frames);
    EXPECT_FALSE(writer.isOpen());

    const auto [whole, decodedSize] = decodedFrames(clip);
    EXPECT_EQ(whole, frames);
    EXPECT_EQ(decodedSize, cv::Size(162, 122));

    // A fragment (moof, then mdat) per second of frames, each written
    // whole: cut within the third, the first two still play.
    const std::vector<size_t> fragmentEnds = boxEnds(clip, "mdat");
    ASSERT_EQ(fragmentEnds.size(), size_t(frames / fps));
    EXPECT_EQ(boxEnds(clip, "moof").size(), fragmentEnds.size());
    copyPrefix(clip, directory / "cut.mp4", fragmentEnds[2] - 1);
    const int cut = decodedFrames(directory / "cut.mp4").first;
    EXPECT_GE(cut, 2 * static_cast<int>(fps));
    EXPECT_LT(cut, frames);

    EXPECT_FALSE(writer.open((directory / "no" / "such" / "dir.mp4").string(), fps, size));
    EXPECT_NE(writer.error(), "");
    fs::remove_all(directory);
}
