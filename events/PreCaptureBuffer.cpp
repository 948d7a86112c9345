#include "events/PreCaptureBuffer.h"

#include "io/SourceTime.h"

namespace {

size_t bytesOf(const cv::Mat& image) {
    return image.total() * image.elemSize();
}

} // namespace

PreCaptureBuffer::PreCaptureBuffer(double preSeconds, size_t rawByteLimit)
    : preSeconds(preSeconds), rawByteLimit(rawByteLimit) {}

void PreCaptureBuffer::push(const cv::Mat& frame, double t) {
    entries.push_back({ClipFrame{frame, nullptr}, t});
    rawBytes += bytesOf(frame);
    while (!atMostApart(t, entries.front().t, preSeconds)) {
        if (compressed > 0) --compressed;
        else rawBytes -= bytesOf(entries.front().frame.image);
        entries.pop_front();
    }
    // The newest frame stays as it is: it is the one the caller goes on with.
    while (rawBytes > rawByteLimit && compressed + 1 < entries.size()) {
        ClipFrame& oldest = entries[compressed].frame;
        rawBytes -= bytesOf(oldest.image);
        oldest = compressClipFrame(oldest.image);
        ++compressed;
    }
}
