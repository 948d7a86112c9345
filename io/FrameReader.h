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
// A file ends at its first failed read. A live source is never waited for
// longer than 5 seconds: a stream's opening and each of its reads are given
// up after 4 seconds (the frame a given-up read still brings is late and
// dropped), and a source that fails or is given up is opened again at once,
// then every 2 seconds until it delivers; frames keep their numbering and
// clock across the gap. A reading thread stuck in a read (a camera driver,
// say) does not hold up the end: the reader waits half a second for it, then
// leaves it behind.
#pragma once

#include "io/BoundedQueue.h"
#include "io/VideoFrame.h"
#include "io/VideoSource.h"

#include <opencv2/core.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// How frames are to come: where their grey comes from, and whether they
// bring the source's packets (for clips that copy the camera's stream).
struct ReaderChoice {
    GreyInput grey = GreyInput::Exact;
    bool sourcePackets = false;
};

struct TimedFrame {
    VideoFrame frame;    // of the size the source opened with
    long long index = 0; // frames read from the source before this one
    double t = 0.0;      // source time, seconds
};

class FrameReader {
public:
    // A stream is decoded with FFmpeg's libraries directly (see
    // DirectDecoder), and so is a file for the luma plane or the source's
    // packets; a camera, and otherwise a file, through OpenCV (which gives
    // no packets).
    explicit FrameReader(std::string sourceText, ReaderChoice choice = {});
    ~FrameReader(); // stops the thread (see above)
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Opens the source on the reading thread and, once open, starts
    // decoding. Returns the opening (the frame size, or the failure); gives
    // up at once, as a failure, when stop() turns true (asked every 50 ms).
    SourceOpening open(const std::function<bool()>& stop = {});

    bool live() const;

    // The frame rate clips play at. A file's own, clamped as for pacing.
    // For a live source, the rate frames reach the caller at, over those
    // that arrive from 1 to 4 seconds after the first (the first second
    // brings a burst of frames the decoder buffered while the source
    // opened); until a few of them have come, the rate the source reports,
    // clamped.
    double clipFps() const;

    // The number of frames the file holds, 0 when unknown or live.
    long long frameCount() const;

    enum class Result { Frame, Ended, Waiting };

    // The next frame; Ended once a file is exhausted; Waiting when nothing
    // came within the wait.
    Result next(TimedFrame& frame, std::chrono::milliseconds wait);

private:
    struct Stream; // all the reading thread touches, kept alive for it
    void measureRate(double t);

    std::shared_ptr<Stream> stream;
    std::thread thread;
    // The measurement of a live source's rate: the first frame's time, the
    // last one's, and the gaps between frames counted so far.
    double firstT = -1.0, lastT = 0.0;
    long long rateGaps = 0;
    double rateSeconds = 0.0;
};
