// Clips as a reader finds them, whatever happened to their writer: a clip
// spread over several RIFF pieces plays every frame in order; a file cut off
// anywhere (a crash, power loss) is repaired to play exactly the whole
// frames before the cut; a disk that refuses bytes part way leaves a clip
// closed as far as it got, its frame count the one a reader finds. A
// pre-capture that holds its older frames compressed makes the same clips.
#include "events/PreCaptureBuffer.h"
#include "io/ClipWriter.h"
#include "io/MjpegAvi.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const cv::Size frameSize(96, 64);

// Frame i shows a white bar at column 2 * i, so that order can be checked.
cv::Mat numberedFrame(int i) {
    cv::Mat frame(frameSize, CV_8UC3, cv::Scalar::all(40));
    cv::rectangle(frame, cv::Rect(2 * i, 0, 4, frameSize.height), cv::Scalar::all(255), -1);
    return frame;
}

std::vector<uchar> jpegOf(int i) {
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", numberedFrame(i), jpeg);
    return jpeg;
}

// The bar positions of the frames a reader gets, as numbers i.
std::vector<int> framesRead(const fs::path& path, double* fps = nullptr) {
    cv::VideoCapture capture(path.string());
    if (fps != nullptr) *fps = capture.get(cv::CAP_PROP_FPS);
    std::vector<int> numbers;
    cv::Mat frame, grey;
    while (capture.read(frame)) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        int x = 0;
        while (x < grey.cols && grey.at<uchar>(grey.rows / 2, x) < 150) ++x;
        numbers.push_back((x + 1) / 2);
    }
    return numbers;
}

std::vector<int> upTo(int count) {
    std::vector<int> numbers;
    for (int i = 0; i < count; ++i) numbers.push_back(i);
    return numbers;
}

fs::path testDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(ClipFiles, ManyPiecesPlayEveryFrameInOrder) {
    const fs::path path = testDir("clip_pieces") / "clip.avi";
    MjpegAviWriter writer(20000); // a few frames per RIFF piece
    ASSERT_TRUE(writer.open(path.string(), 12.5, frameSize));
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(writer.append(jpegOf(i)));
    EXPECT_EQ(writer.finish(), 40);
    EXPECT_EQ(writer.error(), "");
    double fps = 0.0;
    EXPECT_EQ(framesRead(path, &fps), upTo(40));
    EXPECT_DOUBLE_EQ(fps, 12.5);
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes a clip that begins with a pre-capture of 30 frames, as the watcher
// does, and returns its path.
fs::path clipFromPreCapture(const fs::path& dir, ClipFormat format, size_t rawByteLimit) {
    PreCaptureBuffer buffer(10.0, rawByteLimit);
    for (int i = 0; i < 30; ++i) buffer.push(VideoFrame(numberedFrame(i)), i / 25.0);
    const fs::path path = dir / (std::to_string(rawByteLimit) + clipExtension(format));
    ClipWriter clip(format);
    EXPECT_TRUE(clip.open(path.string(), 25.0, frameSize));
    buffer.forEach([&](const ClipFrame& frame) { clip.write(frame); });
    EXPECT_EQ(clip.close(), 30);
    return path;
}

TEST(ClipFiles, APreCaptureHeldCompressedMakesTheSameClip) {
    const fs::path dir = testDir("clip_precapture");
    const size_t threeFrames = 3 * frameSize.area() * 3;
    const fs::path compressedAvi = clipFromPreCapture(dir, ClipFormat::Avi, threeFrames);
    // The Motion-JPEG clip holds the very JPEGs it would have encoded.
    EXPECT_EQ(fileBytes(compressedAvi), fileBytes(clipFromPreCapture(dir, ClipFormat::Avi, SIZE_MAX)));
    EXPECT_EQ(framesRead(compressedAvi), upTo(30));
    EXPECT_EQ(framesRead(clipFromPreCapture(dir, ClipFormat::Mp4, threeFrames)), upTo(30));
}

TEST(ClipFiles, AFileCutOffAnywherePlaysItsWholeFramesAfterRepair) {
    const fs::path dir = testDir("clip_repair");
    const fs::path path = dir / "written.avi";
    std::vector<long long> frameEnds; // where each frame's JPEG ends in the file
    std::string unfinished;
    {
        MjpegAviWriter writer(30000);
        ASSERT_TRUE(writer.open(path.string(), 10.0, frameSize));
        for (int i = 0; i < 12; ++i) {
            ASSERT_TRUE(writer.append(jpegOf(i)));
            frameEnds.push_back((long long)(fs::file_size(path) - jpegOf(i).size() % 2));
        }
        // What a crash leaves: the frames, no indexes, no counts.
        std::ifstream in(path, std::ios::binary);
        unfinished.assign(std::istreambuf_iterator<char>(in), {});
    }
    // Cuts inside the headers, chunk headers and frames, and at every edge.
    std::vector<long long> cuts;
    for (long long cut = 0; cut <= (long long)unfinished.size(); cut += 101) cuts.push_back(cut);
    for (long long end : frameEnds)
        for (long long edge : {-9, -8, -2, -1, 0, 1, 8})
            if (end + edge <= (long long)unfinished.size()) cuts.push_back(end + edge);
    for (long long cut : cuts) {
        const fs::path cutPath = dir / "cut.avi";
        std::ofstream(cutPath, std::ios::binary).write(unfinished.data(), cut);
        int whole = 0;
        while (whole < 12 && frameEnds[size_t(whole)] <= cut) ++whole;
        std::string error;
        const long long repaired = repairMjpegAvi(cutPath.string(), error);
        if (repaired < 0) {
            // Only a header cut short is beyond repair.
            ASSERT_EQ(whole, 0) << "cut at " << cut << ": " << error;
            continue;
        }
        ASSERT_EQ(repaired, whole) << "cut at " << cut;
        ASSERT_EQ(fs::exists(cutPath), whole > 0) << "cut at " << cut;
        if (whole > 0) {
            ASSERT_EQ(framesRead(cutPath), upTo(whole)) << "cut at " << cut;
        }
    }
}

// The process may write files of at most `bytes`; a write beyond fails as
// on a full disk (EFBIG instead of ENOSPC).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};

TEST(ClipFiles, ADiskThatRefusesBytesLeavesAClosedClipThatCountsRight) {
    const fs::path dir = testDir("clip_refused");
    const long long frameBytes = (long long)jpegOf(0).size();
    // Limits that stop frames at several places, and one that leaves no
    // room even for the indexes of the frames that fitted.
    for (long long limit : {6000LL, 6000 + 3 * frameBytes + 5, 6000 + 20 * frameBytes, 100LL}) {
        const fs::path path = dir / ("clip_" + std::to_string(limit) + ".avi");
        ClipWriter clip;
        long long frames = 0;
        {
            FileSizeLimit full(rlim_t(limit + 4096)); // the header's page
            ASSERT_EQ(clip.open(path.string(), 10.0, frameSize), limit > 100) << limit;
            for (int i = 0; i < 40; ++i) clip.write(numberedFrame(i));
            frames = clip.close();
        }
        SCOPED_TRACE("limit " + std::to_string(limit));
        EXPECT_LT(frames, 40);
        EXPECT_NE(clip.failure(), "");
        EXPECT_EQ(fs::exists(path), frames > 0);
        if (frames > 0) {
            EXPECT_EQ(framesRead(path), upTo(int(frames)));
        }
    }
}

} // namespace
