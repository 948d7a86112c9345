// A Motion-JPEG AVI written on a thread of its own: the demo's recordings
// and the watcher's event clips.
//
// Encoding a frame costs more than detecting on it, so the caller hands
// frames over and goes on; at most 16 frames wait (held by reference, not
// copied), beyond that write() waits for the encoder, which keeps memory
// bounded when the disk or the processor falls behind.
#pragma once

#include "io/BoundedQueue.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <string>
#include <thread>

class ClipWriter {
public:
    ClipWriter();
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

    // The caller opens and releases the writer only while nothing is queued
    // or being written; in between only the worker touches it.
    cv::VideoWriter writer;
    bool opened = false;
    long long framesWritten = 0;
    BoundedQueue<cv::Mat> queue;
    std::thread worker;
};
