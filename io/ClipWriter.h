// A clip written on a thread of its own: the demo's recordings and the
// watcher's event clips, as Motion-JPEG AVI (what every player opens) or
// as H.264 in fragmented MP4 (what browsers play, and what still plays up
// to its last second when cut short; see FragmentedMp4Writer).
//
// Encoding a frame costs more than detecting on it, so the caller hands
// frames over and goes on; at most 16 frames wait (held by reference, not
// copied), beyond that write() waits for the encoder, which keeps memory
// bounded when the disk or the processor falls behind.
#pragma once

#include "io/BoundedQueue.h"
#include "io/FragmentedMp4Writer.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <string>
#include <thread>

enum class ClipFormat { Avi, Mp4 };

// The file name extension of a format: ".avi" or ".mp4".
const char* clipExtension(ClipFormat format);

class ClipWriter {
public:
    explicit ClipWriter(ClipFormat format = ClipFormat::Avi);
    ~ClipWriter(); // finishes a clip still open
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Starts a new clip; false when the file cannot be written.
    bool open(const std::string& path, double fps, cv::Size frameSize);

    bool isOpen() const { return opened; }

    // Queues a frame for the open clip; the frame must not change afterwards.
    void write(const cv::Mat& frame);

    // Waits for the queued frames, finalises the file and returns the number
    // of frames it holds.
    long long close();

private:
    void work();
    bool encode(const cv::Mat& frame);

    const ClipFormat format;
    // The caller opens and closes the writer of its format only while
    // nothing is queued or being written; in between only the worker
    // touches it.
    cv::VideoWriter writer;
    FragmentedMp4Writer mp4;
    bool opened = false;
    long long framesWritten = 0;
    BoundedQueue<cv::Mat> queue;
    std::thread worker;
};
