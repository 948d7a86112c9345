#include "io/FrameReader.h"

#include <cmath>

namespace {

// Enough to keep the detector fed while the decoder runs ahead; a live
// source that outpaces the detector loses its oldest waiting frame instead.
constexpr size_t queueCapacity = 4;

constexpr auto reopenInterval = std::chrono::seconds(2);

} // namespace

bool isLiveSource(const std::string& text) {
    return sourceKind(text) == SourceKind::Camera || text.find("://") != std::string::npos;
}

FrameReader::FrameReader(std::string sourceText)
    : sourceText(std::move(sourceText)), isLive(isLiveSource(this->sourceText)) {}

FrameReader::~FrameReader() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
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
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, wait, [&] { return !queue.empty() || ended; });
    if (queue.empty()) return ended ? Result::Ended : Result::Waiting;
    frame = std::move(queue.front());
    queue.pop_front();
    changed.notify_all();
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
        if (isUsableFrame(frame.image, opening)) deliver(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) break;
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
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
        if (!sleepUnlessStopping(reopenInterval)) return false;
        if (openVideoSource(sourceText, capture).failureMessage == nullptr) return true;
    }
}

void FrameReader::deliver(TimedFrame&& frame) {
    std::unique_lock<std::mutex> lock(mutex);
    if (isLive) {
        if (queue.size() >= queueCapacity) queue.pop_front();
    } else {
        changed.wait(lock, [&] { return queue.size() < queueCapacity || stopping; });
    }
    queue.push_back(std::move(frame));
    changed.notify_all();
}

bool FrameReader::sleepUnlessStopping(std::chrono::steady_clock::duration duration) {
    std::unique_lock<std::mutex> lock(mutex);
    return !changed.wait_for(lock, duration, [&] { return stopping; });
}
