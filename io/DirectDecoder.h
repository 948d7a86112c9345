// Decoding of a file or a stream with FFmpeg's libraries directly, for what
// OpenCV's reader cannot give a watcher of many cameras:
// - the decoder's own picture, so that a frame is made colour only when
//   somebody looks at it, and its luma plane can serve as the grey frame
//   (the fast input, which skips the colour conversion altogether);
// - colour written once, straight into the frame's own buffer (OpenCV's
//   reader converts into a buffer of its own and copies that out);
// - one decoding thread for the usual camera (threads cost more processor
//   time than they save where one thread keeps up).
//
// The colour is bit for bit what OpenCV's reader gives for the same file or
// stream: the same conversion of the same decoded picture (swscale with the
// same flags, at the coded size). So is a file frame's position, computed
// as OpenCV computes it.
#pragma once

#include <opencv2/core.hpp>

#include <chrono>
#include <memory>
#include <string>

struct AVFrame;

// One decoded picture, shared by reference and never changed.
class DecodedPicture {
public:
    ~DecodedPicture();
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    int width() const;
    int height() const;

    // 8-bit BGR, a new image each call.
    cv::Mat colour() const;

    // The luma plane as 8-bit grey at frame size, without a copy where its
    // rows lie back to back; empty for pictures without a separate 8-bit
    // luma plane (RGB, paletted, deeper than 8 bits).
    cv::Mat luma() const;

private:
    friend class DirectDecoder;
    struct Conversion;
    DecodedPicture(AVFrame* frame, std::shared_ptr<Conversion> conversion);

    AVFrame* frame;
    std::shared_ptr<Conversion> conversion; // shared with the decoder: made once per size and format
};

class DirectDecoder {
public:
    DirectDecoder();
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;

    // Opens the file or URL and its first video stream; false (nothing held)
    // when it cannot, or when that takes longer than timeout.
    bool open(const std::string& name, std::chrono::milliseconds timeout);

    int width() const;
    int height() const;
    double fps() const;         // as OpenCV's reader reports it
    long long frameCount() const; // likewise; 0 when not known

    // The next picture; null at the end, on a failure, or when no picture
    // came within timeout.
    std::shared_ptr<const DecodedPicture> read(std::chrono::milliseconds timeout);

    // The last picture's position in seconds from the stream's start, as
    // OpenCV's reader reports it (0 when the picture carries no time).
    double position() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
