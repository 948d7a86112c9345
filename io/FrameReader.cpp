#include "io/FrameReader.h"

#include <cmath>

namespace {

// Enough to keep the detector fed while the decoder runs ahead; a live
// source that outpaces the detector loses its oldest waiting frame instead.
constexpr size_t queueCapacity = 4;

constexpr auto reopenInterval = std::chrono::seconds(2);

} // namespace

FrameReader::FrameReader(std::string sourceText)
    : sourceText(std::move(sourceText)), isLive(::isLive(classifySource(this->sourceText))), queue(queueCapacity) {}

FrameReader::~FrameReader() {
    queue.close();
    if (thread.joinable()) thread.join();
}

SourceOpening FrameReader::open() {
    opening = openVideoSource(sourceText, capture);
    if (opening.failureMessage != nullptr) return opening;
    fps = clampSourceFps(capture.get(cv::CAP_PROP_FPS));
    const double reported = capture.get(cv::CAP_PROP_FRAME_COUNT);
    if (!isLive && reported >= 1) frames = static_cast<long long>(reported);
    thread = std::thread(&FrameReader::run, this);
    return opening;
}

FrameReader::Result FrameReader::next(TimedFrame& frame, std::chrono::milliseconds wait) {
    std::optional<TimedFrame> taken = queue.pop(wait);
    if (!taken) return queue.ended() ? Result::Ended : Result::Waiting;
    frame = std::move(*taken);
    queue.done();
    return Result::Frame;
}

void FrameReader::run() {
    for (;;) {
        TimedFrame frame;
        if (!readFrame(frame)) {
            if (isLive && reopenEveryTwoSeconds()) continue;
            break;
        }
        // A frame of another size or kind than at opening is skipped, as the
        // demo skips it; it still counts in the numbering.
        if (isUsableFrame(frame.image, opening) && !deliver(std::move(frame))) return; // stopping
        if (queue.waitForClose(std::chrono::seconds(0))) return;
    }
    queue.close();
}

bool FrameReader::readFrame(TimedFrame& frame) {
    if (!capture.read(frame.image) || frame.image.empty()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (nextIndex == 0) firstFrameAt = now;
    frame.index = nextIndex++;
    frame.t = isLive ? std::chrono::duration<double>(now - firstFrameAt).count() : fileTime(frame.index);
    previousT = frame.t;
    return true;
}

double FrameReader::fileTime(long long index) {
    const double position = capture.get(cv::CAP_PROP_POS_MSEC) / 1000.0;
    const bool usable = std::isfinite(position) && (index == 0 ? position >= 0.0 : position > previousT);
    if (usable) return position;
    return index == 0 ? 0.0 : previousT + 1.0 / fps;
}

// False when asked to stop before the source came back.
bool FrameReader::reopenEveryTwoSeconds() {
    capture.release();
    for (;;) {
        if (queue.waitForClose(reopenInterval)) return false;
        if (openVideoSource(sourceText, capture).failureMessage == nullptr) return true;
    }
}

// False once the queue is closed: the reader is stopping.
bool FrameReader::deliver(TimedFrame&& frame) {
    using WhenFull = BoundedQueue<TimedFrame>::WhenFull;
    return queue.push(std::move(frame), isLive ? WhenFull::DropOldest : WhenFull::Wait);
}
