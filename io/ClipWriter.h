// A clip written on a thread of its own: the demo's recordings and the
// watcher's event clips, as Motion-JPEG AVI (what every player opens) or
// as H.264 in fragmented MP4 (what browsers play, and what still plays up
// to its last second when cut short; see FragmentedMp4Writer).
//
// Encoding a frame costs more than detecting on it, so the caller hands
// frames over and goes on; at most 16 frames wait (held by reference, not
// copied), beyond that write() waits for the encoder, which keeps memory
// bounded when the disk or the processor falls behind.
//
// A clip tells the truth about itself: when the disk refuses a frame (full,
// failing, the file deleted), the clip takes no further frames, is closed
// properly as far as it got, and says how many frames it holds and why not
// all of them.
#pragma once

#include "io/BoundedQueue.h"
#include "io/FragmentedMp4Writer.h"
#include "io/MjpegAvi.h"

#include <opencv2/core.hpp>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Copy: the camera's own compressed stream in fragmented MP4, as it came (no
// decoding, no encoding, no boxes; those are in the snapshot and the event's
// object list). Only a source decoded directly brings its packets.
enum class ClipFormat { Avi, Mp4, Copy };

// A frame on its way into a clip: the image, or the JPEG a Motion-JPEG clip
// would make of it (compressClipFrame), which such a clip takes as it is and
// an MP4 clip decodes first. Held frames that wait long (pre-capture) are
// kept compressed, at a tenth of their size or less.
struct ClipFrame {
    cv::Mat image;                                   // empty when compressed
    std::shared_ptr<const std::vector<uchar>> jpeg; // null when not
    std::shared_ptr<const SourcePackets> packets;    // what a Copy clip takes instead of either
};

// The frame as the JPEG a Motion-JPEG clip holds for it, byte for byte.
ClipFrame compressClipFrame(const cv::Mat& image);

// The file name extension of a format: ".avi" or ".mp4" (both MP4 formats).
const char* clipExtension(ClipFormat format);

class ClipWriter {
public:
    explicit ClipWriter(ClipFormat format = ClipFormat::Avi);
    ~ClipWriter(); // finishes a clip still open
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Starts a new clip; false when the file cannot be written (failure()
    // then says why).
    bool open(const std::string& path, double fps, cv::Size frameSize);

    bool isOpen() const { return opened; }

    // Queues a frame for the open clip; the frame must not change afterwards.
    void write(const cv::Mat& frame);
    void write(const ClipFrame& frame);

    // Waits for the queued frames, finishes the file and returns the number
    // of frames a reader finds in it: 0 when none, and then the file is gone.
    // fps, when given: the rate the clip plays at, known better now than at
    // open() (a live source's, measured while the clip was written). An MP4
    // keeps the rate of open(): its fragments carry their timing as they go.
    long long close(std::optional<double> fps = std::nullopt);

    // Why the clip last opened could not be opened or holds fewer frames
    // than it was given, such as "No space left on device"; empty when it
    // holds them all.
    const std::string& failure() const { return format == ClipFormat::Avi ? file.error() : mp4.error(); }

private:
    void work();
    void encode(const ClipFrame& frame);

    const ClipFormat format;
    // The caller opens and finishes the file only while nothing is queued
    // or being written; in between only the worker touches it.
    MjpegAviWriter file;
    FragmentedMp4Writer mp4;
    bool opened = false;
    std::vector<uchar> jpeg;
    BoundedQueue<ClipFrame> queue;
    std::thread worker;
};
