#include "events/PreCaptureBuffer.h"

#include "io/SourceTime.h"

namespace {

// What a frame comes to in colour; until then a decoded picture holds half
// of that or less.
size_t bytesOf(const VideoFrame& frame) {
    return size_t(frame.size().area()) * 3;
}

} // namespace

PreCaptureBuffer::PreCaptureBuffer(double preSeconds, size_t rawByteLimit)
    : preSeconds(preSeconds), rawByteLimit(rawByteLimit) {}

void PreCaptureBuffer::push(const VideoFrame& frame, double t) {
    entries.push_back({frame, nullptr, t});
    rawBytes += bytesOf(frame);
    while (!atMostApart(t, entries.front().t, preSeconds)) {
        if (compressed > 0) --compressed;
        else rawBytes -= bytesOf(entries.front().frame);
        entries.pop_front();
    }
    // The newest frame stays as it is: it is the one the caller goes on with.
    while (rawBytes > rawByteLimit && compressed + 1 < entries.size()) {
        Entry& oldest = entries[compressed];
        rawBytes -= bytesOf(oldest.frame);
        oldest.jpeg = compressClipFrame(oldest.frame.annotated()).jpeg;
        oldest.frame = VideoFrame();
        ++compressed;
    }
}
