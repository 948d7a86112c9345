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
#include <vector>

struct AVFrame;
struct AVPacket;
struct AVCodecParameters;

// The source's own compressed video behind one picture: the packets the
// decoder took since the picture before (in decoding order; one, for a
// camera's usual stream), and the stream they belong to. What a clip that
// copies the camera's stream is made of. Shared by reference, never changed.
class SourcePackets {
public:
    // What a file needs to hold the packets: the codec's parameters, the
    // time base of their timestamps and the frame rate. A source opened
    // again is another stream.
    struct Stream {
        Stream(const AVCodecParameters* parameters, int timeBaseNum, int timeBaseDen, double fps);
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;
        AVCodecParameters* parameters;
        int timeBaseNum, timeBaseDen;
        double fps;
    };

    SourcePackets(std::shared_ptr<const Stream> stream, std::vector<AVPacket*> packets);
    ~SourcePackets();
    SourcePackets(const SourcePackets&) = delete;
    SourcePackets& operator=(const SourcePackets&) = delete;

    const std::shared_ptr<const Stream>& stream() const { return from; }
    const std::vector<AVPacket*>& packets() const { return held; }
    bool holdsKeyframe() const;
    size_t bytes() const;

private:
    std::shared_ptr<const Stream> from;
    std::vector<AVPacket*> held;
};

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

    // The luma plane as 8-bit grey at frame size: a view of the picture's
    // own plane, valid while the picture lives. Empty for pictures without
    // a separate 8-bit luma plane (RGB, paletted, deeper than 8 bits).
    cv::Mat luma() const;

    // The packets behind the picture, when the decoder keeps them; null
    // otherwise, and for the pictures the decoder gives out after the last
    // packet.
    const std::shared_ptr<const SourcePackets>& packets() const { return source; }

private:
    friend class DirectDecoder;
    struct Conversion;
    DecodedPicture(AVFrame* frame, std::shared_ptr<Conversion> conversion, std::shared_ptr<const SourcePackets> source);

    AVFrame* frame;
    std::shared_ptr<Conversion> conversion; // shared with the decoder: made once per size and format
    std::shared_ptr<const SourcePackets> source;
};

class DirectDecoder {
public:
    DirectDecoder();
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;

    // Opens the file or URL and its first video stream; false (nothing held)
    // when it cannot, or when that takes longer than timeout. keepPackets:
    // every picture brings the packets behind it (see SourcePackets).
    bool open(const std::string& name, std::chrono::milliseconds timeout, bool keepPackets = false);

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
