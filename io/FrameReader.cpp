#include "io/FrameReader.h"

#include "io/DirectDecoder.h"

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

// Enough to keep the detector fed while the decoder runs ahead; a live
// source that outpaces the detector loses its oldest waiting frame instead.
constexpr size_t queueCapacity = 4;

using Clock = std::chrono::steady_clock;

// A stream's opening and reads are given up after this long. OpenCV returns
// a little later than its time-out says (it tries other backends after
// FFmpeg; the machine may be busy): 4 seconds keep every attempt within 5.
constexpr auto giveUpAfter = std::chrono::seconds(4);
constexpr auto reopenInterval = std::chrono::seconds(2);
constexpr auto stopWait = std::chrono::milliseconds(500);
constexpr auto openPoll = std::chrono::milliseconds(50);

// The clip rate of a live source is measured on the frames that arrive from
// 1 to 4 seconds after the first (and on, until a few gaps were seen): the
// first second holds the frames the decoder buffered while the source
// opened, which all arrive at once. The mean gap, as the arrival of single
// frames jitters with the network's packets.
constexpr double rateSettleSeconds = 1.0;
constexpr double rateWindowSeconds = 3.0;
constexpr long long fewestGaps = 4;

const std::vector<int> streamTimeouts{
    cv::CAP_PROP_OPEN_TIMEOUT_MSEC, int(std::chrono::milliseconds(giveUpAfter).count()),
    cv::CAP_PROP_READ_TIMEOUT_MSEC, int(std::chrono::milliseconds(giveUpAfter).count())};

const char* const stoppedWhileOpening = "Stopped while opening the video source";

bool decodesDirectly(SourceKind kind, const ReaderChoice& choice) {
    const bool needsDecoder = choice.grey == GreyInput::Luma || choice.sourcePackets;
    return kind == SourceKind::Stream || (kind == SourceKind::File && needsDecoder);
}

} // namespace

struct FrameReader::Stream {
    Stream(std::string text, ReaderChoice choice)
        : sourceText(std::move(text)), isLive(::isLive(classifySource(sourceText))), choice(choice),
          direct(decodesDirectly(classifySource(sourceText), choice)), queue(queueCapacity) {}

    void run();
    void openSource();
    SourceOpening openOnce();
    bool readFrame(TimedFrame& frame);
    bool readPicture(VideoFrame& frame);
    double fileTime(long long index);
    bool reopen();
    bool deliver(TimedFrame&& frame);
    void markEnded();

    const std::string sourceText;
    const bool isLive;
    const ReaderChoice choice;
    const bool direct; // the decoder below, not the capture
    cv::VideoCapture capture;
    std::unique_ptr<DirectDecoder> decoder;
    SourceOpening opening;
    double fps = 30.0;
    long long frames = 0;
    long long nextIndex = 0;
    double previousT = 0.0;
    Clock::time_point firstFrameAt;

    // Closed by the reading thread when a file ends, and by the reader to
    // stop it.
    BoundedQueue<TimedFrame> queue;

    // The thread's milestones, for the reader waiting on them.
    std::mutex mutex;
    std::condition_variable changed;
    bool opened = false; // opening holds the outcome
    bool ended = false;  // the thread is about to return
};

FrameReader::FrameReader(std::string sourceText, ReaderChoice choice)
    : stream(std::make_shared<Stream>(std::move(sourceText), choice)) {}

FrameReader::~FrameReader() {
    stream->queue.close();
    if (!thread.joinable()) return;
    std::unique_lock<std::mutex> lock(stream->mutex);
    const bool ended = stream->changed.wait_for(lock, stopWait, [&] { return stream->ended; });
    lock.unlock();
    if (ended) thread.join();
    else thread.detach(); // it holds its own share of the stream
}

SourceOpening FrameReader::open(const std::function<bool()>& stop) {
    thread = std::thread([s = stream] { s->run(); });
    std::unique_lock<std::mutex> lock(stream->mutex);
    while (!stream->changed.wait_for(lock, openPoll, [&] { return stream->opened; })) {
        if (stop && stop()) {
            SourceOpening stopped;
            stopped.failureMessage = stoppedWhileOpening;
            return stopped;
        }
    }
    return stream->opening;
}

bool FrameReader::live() const {
    return stream->isLive;
}

long long FrameReader::frameCount() const {
    return stream->frames;
}

double FrameReader::clipFps() const {
    if (!stream->isLive || rateGaps < fewestGaps || rateSeconds <= 0.0) return stream->fps;
    return std::clamp(double(rateGaps) / rateSeconds, 0.1, 1000.0);
}

FrameReader::Result FrameReader::next(TimedFrame& frame, std::chrono::milliseconds wait) {
    std::optional<TimedFrame> taken = stream->queue.pop(wait);
    if (!taken) return stream->queue.ended() ? Result::Ended : Result::Waiting;
    frame = std::move(*taken);
    stream->queue.done();
    if (stream->isLive) measureRate(frame.t);
    return Result::Frame;
}

void FrameReader::measureRate(double t) {
    if (firstT < 0.0) firstT = t;
    const bool settled = lastT - firstT >= rateSettleSeconds;
    const bool measuring = t - firstT <= rateSettleSeconds + rateWindowSeconds || rateGaps < fewestGaps;
    // A gap as long as the source is waited for was an outage, not a frame period.
    if (settled && measuring && t - lastT < std::chrono::duration<double>(giveUpAfter).count()) {
        ++rateGaps;
        rateSeconds += t - lastT;
    }
    lastT = t;
}

void FrameReader::Stream::run() {
    openSource();
    if (opening.failureMessage != nullptr) {
        markEnded();
        return;
    }
    for (;;) {
        TimedFrame frame;
        if (!readFrame(frame)) {
            if (isLive && reopen()) continue;
            break;
        }
        // A frame of another size or kind than at opening is skipped, as the
        // demo skips it; it still counts in the numbering.
        if (frame.frame.size() == cv::Size(opening.frameWidth, opening.frameHeight) && !deliver(std::move(frame)))
            break; // stopping
        if (queue.waitForClose(std::chrono::seconds(0))) break;
    }
    queue.close();
    markEnded();
}

SourceOpening FrameReader::Stream::openOnce() {
    if (!direct) return openVideoSource(sourceText, capture, nullptr, streamTimeouts);
    decoder = std::make_unique<DirectDecoder>();
    return openDecodedSource(sourceText, *decoder, std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAfter),
                             choice.sourcePackets);
}

void FrameReader::Stream::openSource() {
    SourceOpening result = openOnce();
    if (result.failureMessage == nullptr) {
        fps = clampSourceFps(direct ? decoder->fps() : capture.get(cv::CAP_PROP_FPS));
        const double reported = direct ? double(decoder->frameCount()) : capture.get(cv::CAP_PROP_FRAME_COUNT);
        if (!isLive && reported >= 1) frames = static_cast<long long>(reported);
    }
    std::lock_guard<std::mutex> lock(mutex);
    opening = result;
    opened = true;
    changed.notify_all();
}

void FrameReader::Stream::markEnded() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
}

bool FrameReader::Stream::readFrame(TimedFrame& frame) {
    const Clock::time_point started = Clock::now();
    if (!readPicture(frame.frame)) return false;
    const Clock::time_point now = Clock::now();
    // A read that took as long as the time-out was given up: what it still
    // brought (a frame the decoder held back) belongs to the past.
    if (isLive && now - started >= giveUpAfter) return false;
    if (nextIndex == 0) firstFrameAt = now;
    frame.index = nextIndex++;
    frame.t = isLive ? std::chrono::duration<double>(now - firstFrameAt).count() : fileTime(frame.index);
    previousT = frame.t;
    return true;
}

// A frame whose colour (OpenCV) or picture (the decoder) is of another kind
// than at opening comes out of the wrong size, and is passed over.
bool FrameReader::Stream::readPicture(VideoFrame& frame) {
    if (direct) {
        std::shared_ptr<const DecodedPicture> picture =
            decoder->read(std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAfter));
        if (!picture) return false;
        frame = VideoFrame(std::move(picture), choice.grey);
        return true;
    }
    cv::Mat image;
    if (!capture.read(image) || image.empty()) return false;
    frame = VideoFrame(isUsableFrame(image, opening) ? std::move(image) : cv::Mat());
    return true;
}

double FrameReader::Stream::fileTime(long long index) {
    const double position = direct ? decoder->position() : capture.get(cv::CAP_PROP_POS_MSEC) / 1000.0;
    const bool usable = std::isfinite(position) && (index == 0 ? position >= 0.0 : position > previousT);
    if (usable) return position;
    return index == 0 ? 0.0 : previousT + 1.0 / fps;
}

// Opens the source again at once, then every 2 seconds (counted from the
// start of the attempt before) until it opens; false when asked to stop
// first.
bool FrameReader::Stream::reopen() {
    capture.release();
    decoder.reset();
    Clock::time_point attempt = Clock::now();
    for (;;) {
        if (queue.waitForClose(std::max(Clock::duration::zero(), attempt - Clock::now()))) return false;
        attempt = Clock::now() + reopenInterval;
        if (openOnce().failureMessage == nullptr) return true;
    }
}

// False once the queue is closed: the reader is stopping.
bool FrameReader::Stream::deliver(TimedFrame&& frame) {
    using WhenFull = BoundedQueue<TimedFrame>::WhenFull;
    return queue.push(std::move(frame), isLive ? WhenFull::DropOldest : WhenFull::Wait);
}
