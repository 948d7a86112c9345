// The last seconds of annotated frames, kept so that a clip can begin before
// the motion that started its event.
//
// Frames are held by reference (each decoded frame is its own image, never
// written to again), so keeping one costs no copy; one that came from the
// decoder is made colour, and annotated, only when a clip takes it. The buffer never holds a
// frame older than the pre-capture time before the newest one. The newest
// frames stay as they are up to rawByteLimit; older ones are kept as the
// JPEG a Motion-JPEG clip holds for them (the same bytes, so such a clip is
// as it would be without compression; an MP4 clip decodes them). The
// default two seconds of a 1280x720 25 fps or 1920x1080 10 fps camera fit
// and cost no compression; a longer pre-capture costs one JPEG per frame
// (about 10 ms at 1920x1080) and a tenth to a thirtieth of the memory.
#pragma once

#include "io/ClipWriter.h"
#include "io/VideoFrame.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <deque>

class PreCaptureBuffer {
public:
    static constexpr size_t defaultRawByteLimit = size_t(150) << 20;

    // Frames: the pictures, for clips that are encoded. Packets: only the
    // source's packets, for clips that copy them; those reach back to the
    // keyframe at or before the pre-capture's start, where such a clip must
    // begin, and take a few MB where pictures take GB.
    enum class Holding { Frames, Packets };

    explicit PreCaptureBuffer(double preSeconds, size_t rawByteLimit = defaultRawByteLimit,
                              Holding holding = Holding::Frames);

    // Appends the newest frame, drops those now too old and compresses the
    // oldest uncompressed ones beyond the limit.
    void push(const VideoFrame& frame, double t);

    // Calls write(const ClipFrame&) for every held frame, oldest first.
    template <class Write>
    void forEach(Write write) const {
        for (const Entry& e : entries) write(clipFrame(e));
    }

    size_t size() const { return entries.size(); }

private:
    struct Entry {
        VideoFrame frame;                                // empty once compressed, and when holding packets
        std::shared_ptr<const std::vector<uchar>> jpeg; // null until then
        std::shared_ptr<const SourcePackets> packets;    // when holding packets
        double t;
    };

    ClipFrame clipFrame(const Entry& e) const;
    void pushFrame(const VideoFrame& frame, double t);
    void pushPackets(const VideoFrame& frame, double t);

    const double preSeconds;
    const size_t rawByteLimit; // of pictures; of packets when holding them (a stream without keyframes)
    const Holding holding;
    std::deque<Entry> entries;
    size_t compressed = 0; // the oldest entries, held as JPEG
    size_t rawBytes = 0;   // of the others
};
