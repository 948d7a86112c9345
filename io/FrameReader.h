// Decoding of the video on a thread of its own, so that decoding the next
// frame overlaps with detecting on and storing the current one.
//
// Every frame gets a source time in seconds. For a file it is the stream
// position of the frame, so that results do not depend on the machine's
// speed; where the container gives no usable position (none, or not after
// the previous frame's), the previous time plus one frame period of the
// clamped frame rate stands in. For a live source (a camera number or a URL
// with a scheme) it is the monotonic clock since the first frame.
//
// A file ends at its first failed read. A live source that fails is closed
// and opened again every 2 seconds until it delivers; frames keep their
// numbering and clock across the gap.
#pragma once

#include "io/BoundedQueue.h"
#include "io/VideoSource.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <string>
#include <thread>

struct TimedFrame {
    cv::Mat image;       // 8-bit BGR of the size the source opened with
    long long index = 0; // frames read from the source before this one
    double t = 0.0;      // source time, seconds
};

class FrameReader {
public:
    explicit FrameReader(std::string sourceText);
    ~FrameReader(); // stops the thread; waits for a read in progress
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Opens the source; on success starts decoding. The opening tells the
    // frame size, or the failure.
    SourceOpening open();

    bool live() const { return isLive; }

    // The frame rate clips are written at: the source's, clamped as for pacing.
    double clipFps() const { return fps; }

    // The number of frames the file holds, 0 when unknown or live.
    long long frameCount() const { return frames; }

    enum class Result { Frame, Ended, Waiting };

    // The next frame; Ended once a file is exhausted; Waiting when nothing
    // came within the wait.
    Result next(TimedFrame& frame, std::chrono::milliseconds wait);

private:
    void run();
    bool readFrame(TimedFrame& frame);
    double fileTime(long long index);
    bool reopenEveryTwoSeconds();
    bool deliver(TimedFrame&& frame);

    const std::string sourceText;
    const bool isLive;
    cv::VideoCapture capture;
    SourceOpening opening;
    double fps = 30.0;
    long long frames = 0;
    long long nextIndex = 0;
    double previousT = 0.0;
    std::chrono::steady_clock::time_point firstFrameAt;

    // Closed by the reading thread when a file ends, and by the destructor
    // to stop it.
    BoundedQueue<TimedFrame> queue;
    std::thread thread;
};
