// Motion-JPEG AVI files written with plain file calls, so that every failure
// is seen where it happens and a file is always closed as far as it got, and
// the repair of such a file that was never finished (a crash, power loss).
//
// The layout is OpenDML AVI, as players expect it: a first RIFF 'AVI ' with
// the headers (main header, one video stream, a super index, the total frame
// count), then as many RIFF 'AVIX' pieces as the frames need, each at most
// riffLimit bytes; each piece's 'movi' list holds its frames ('00dc' chunks,
// each one whole JPEG) and a standard index of them ('ix00'), and the first
// piece also carries the old 'idx1' index for readers that know no other.
// Headers and indexes are written when the file is finished; until then the
// frames are in the file but no reader finds them.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

class MjpegAviWriter {
public:
    static constexpr uint64_t defaultRiffLimit = uint64_t(1) << 30;

    // riffLimit: the size of a RIFF piece beyond which the next one starts
    // (at most 1 GiB, as the indexes hold 32-bit offsets; tests go smaller).
    explicit MjpegAviWriter(uint64_t riffLimit = defaultRiffLimit);
    ~MjpegAviWriter(); // finishes a file still open
    MjpegAviWriter(const MjpegAviWriter&) = delete;
    MjpegAviWriter& operator=(const MjpegAviWriter&) = delete;

    // Creates path (replacing what it held) for frames of that size at that
    // rate; false when it cannot, error() saying why.
    bool open(const std::string& path, double fps, cv::Size frameSize);

    bool isOpen() const { return fd >= 0; }

    // Appends one JPEG as the next frame. A frame that cannot be written
    // whole leaves no trace, and the file takes no further frames: false
    // from then on, error() saying why.
    bool append(const std::vector<uchar>& jpeg);

    // The rate the file plays at, when it is known better than at open()
    // (the rate of a live source, measured meanwhile); taken by finish().
    void setFps(double framesPerSecond) { fps = framesPerSecond; }

    // Writes the indexes and headers, flushes the file to the disk and
    // closes it. Where they do not fit (a full disk), frames are given up
    // from the end until they do. Returns the frames the file holds; 0 when
    // none, and then the file is removed (or was deleted while it was
    // written, which error() then says).
    long long finish();

    // The first failure since open(), such as "No space left on device";
    // empty when none.
    const std::string& error() const { return failure; }

private:
    struct Frame {
        uint64_t chunk; // offset of the chunk header
        uint32_t size;  // of the JPEG
    };
    // One RIFF of the file: the first with the headers, the others 'AVIX'.
    struct Piece {
        uint64_t start = 0;     // its 'RIFF'
        uint64_t movi = 0;      // its 'LIST' of frames
        uint64_t end = 0;       // just after its last whole frame
        std::vector<Frame> frames;
        uint64_t index = 0;     // its 'ix00', once closed
        uint32_t indexSize = 0; // 0 while open
        uint64_t closedEnd = 0; // just after its indexes, once closed
    };

    bool startPiece();
    bool closePiece(Piece& piece);
    std::string headerList() const;
    bool writeHeader();
    long long finishPieces();
    bool writeAt(uint64_t offset, const std::string& bytes);
    void fail(const std::string& why);

    const uint64_t riffLimit;
    int fd = -1;
    std::string path;
    double fps = 0.0;
    cv::Size frameSize;
    std::vector<Piece> pieces;
    uint32_t largestFrame = 0;
    std::string failure;
};

// Makes an AVI of Motion-JPEG frames that was never finished (its writer
// crashed or lost power) play every whole frame it holds, from the first to
// the first one cut short or missing, by writing them into a new file that
// then takes its place. Returns that number of frames: 0 when there are
// none (the file is then removed), -1 when the file cannot be read as such
// an AVI or not be rewritten (it is left as it was, error saying why).
long long repairMjpegAvi(const std::string& path, std::string& error);
