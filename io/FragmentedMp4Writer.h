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
// column or row repeated, as 4:2:0 needs even sizes). Or, opened with
// openCopy(), the file takes a source's own packets without decoding or
// encoding them. Synchronous: the caller that must not wait runs it on a
// thread of its own.
#pragma once

#include "io/DirectDecoder.h"

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

    // Starts a new file that takes the source's own packets as they are: no
    // decoding, no encoding, the camera's pictures to the bit. The file
    // begins with the first keyframe given; its stream is that keyframe's.
    bool openCopy(const std::string& path);

    bool isOpen() const;

    // Encodes one frame. Once encoding or writing fails, the file takes no
    // further frames: false from then on, error() saying why.
    bool write(const cv::Mat& bgr);

    // Appends packets to a file opened with openCopy(); the same rule.
    bool write(const SourcePackets& packets);

    // Encodes what the encoder still holds, writes the last fragment, closes
    // the file and flushes it to the disk. Returns the frames a reader finds
    // in it: after a failure (a full disk) those of its whole fragments, the
    // file cut after them; 0 when none, and then the file is removed (or was
    // deleted while it was written, which error() then says).
    long long close();

    // The first failure since open(), such as "No space left on device";
    // empty when none.
    const std::string& error() const { return lastError; }

private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder; // null while no file is open
    std::string path;
    std::string lastError;
};

// Cuts a fragmented MP4 that was never finished (its writer crashed, lost
// power or met a full disk) after its last whole fragment, so that it ends
// cleanly where its frames do. Returns the frames of its whole fragments: 0
// when there are none (the file is then removed), -1 when the file cannot
// be read as a fragmented MP4 or not be cut (it is left as it was, error
// saying why).
long long repairFragmentedMp4(const std::string& path, std::string& error);
