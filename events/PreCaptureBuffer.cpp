#include "events/PreCaptureBuffer.h"

#include "io/SourceTime.h"

namespace {

// What a frame comes to in colour; until then a decoded picture holds half
// of that or less.
size_t bytesOf(const VideoFrame& frame) {
    return size_t(frame.size().area()) * 3;
}

size_t bytesOf(const std::shared_ptr<const SourcePackets>& packets) {
    return packets ? packets->bytes() : 0;
}

bool holdsKeyframe(const std::shared_ptr<const SourcePackets>& packets) {
    return packets && packets->holdsKeyframe();
}

} // namespace

PreCaptureBuffer::PreCaptureBuffer(double preSeconds, size_t rawByteLimit, Holding holding)
    : preSeconds(preSeconds), rawByteLimit(rawByteLimit), holding(holding) {}

ClipFrame PreCaptureBuffer::clipFrame(const Entry& e) const {
    if (holding == Holding::Packets) return ClipFrame{cv::Mat(), nullptr, e.packets};
    if (e.jpeg) return ClipFrame{cv::Mat(), e.jpeg, nullptr};
    // Not compressed, or it would not compress.
    return ClipFrame{e.frame.annotated(), nullptr, nullptr};
}

void PreCaptureBuffer::push(const VideoFrame& frame, double t) {
    if (holding == Holding::Packets) pushPackets(frame, t);
    else pushFrame(frame, t);
}

void PreCaptureBuffer::pushPackets(const VideoFrame& frame, double t) {
    entries.push_back({VideoFrame(), nullptr, frame.packets(), t});
    rawBytes += bytesOf(frame.packets());
    const auto dropOldest = [this] {
        rawBytes -= bytesOf(entries.front().packets);
        entries.pop_front();
    };
    // Kept from the last keyframe at or before the oldest frame within the
    // pre-capture time.
    size_t firstInside = 0;
    while (firstInside + 1 < entries.size() && !atMostApart(t, entries[firstInside].t, preSeconds)) ++firstInside;
    size_t start = 0;
    for (size_t i = 0; i <= firstInside; ++i)
        if (holdsKeyframe(entries[i].packets)) start = i;
    for (size_t i = 0; i < start; ++i) dropOldest();
    // Without keyframes, memory still has a bound; the clip then begins at
    // the next keyframe it is given.
    while (entries.size() > 1 && rawBytes > rawByteLimit) dropOldest();
}

void PreCaptureBuffer::pushFrame(const VideoFrame& frame, double t) {
    entries.push_back({frame, nullptr, nullptr, t});
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
        if (oldest.jpeg) oldest.frame = VideoFrame(); // one that would not compress stays as it is
        ++compressed;
    }
}
