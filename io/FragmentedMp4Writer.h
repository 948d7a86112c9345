// H.264 video in fragmented MP4, the clip format browsers play.
//
// The file starts with an empty index and carries its frames in fragments
// of at most one second, each beginning with a keyframe and written out as
// soon as it is complete. A file cut short (a crash, a power loss, a full
// disk) therefore still plays up to its last complete second, where an
// ordinary MP4, indexed only at its end, would not play at all.
//
// Frames are 8-bit BGR of the size given to open(); they are converted to
// 4:2:0 for the encoder (a frame of odd width or height gets its last
// column or row repeated, as 4:2:0 needs even sizes). Synchronous: the
// caller that must not wait runs it on a thread of its own.
#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <string>

class FragmentedMp4Writer {
public:
    FragmentedMp4Writer();
    ~FragmentedMp4Writer(); // finishes a file still open
    FragmentedMp4Writer(const FragmentedMp4Writer&) = delete;
    FragmentedMp4Writer& operator=(const FragmentedMp4Writer&) = delete;

    // Starts a new file (after finishing one still open). False, with
    // nothing left open, when the file or the encoder cannot be set up;
    // error() then says why.
    bool open(const std::string& path, double fps, cv::Size frameSize);

    bool isOpen() const;

    // Encodes one frame; false when encoding or writing fails (the frame is
    // then not counted).
    bool write(const cv::Mat& bgr);

    // Encodes what the encoder still holds, writes the last fragment and
    // closes the file. Returns the number of frames the file holds.
    long long close();

    const std::string& error() const { return lastError; }

private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder; // null while no file is open
    std::string lastError;
};
