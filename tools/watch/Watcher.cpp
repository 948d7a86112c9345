#include "tools/watch/Watcher.h"

#include "detector/MotionDetector.h"
#include "events/EventHistory.h"
#include "events/EventJson.h"
#include "io/Shutdown.h"

#include <chrono>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto lostSourceLimit = std::chrono::seconds(5);

// How long the loop waits for a frame before it looks at the signals and
// the lost-source clock again.
constexpr auto frameWait = std::chrono::milliseconds(100);

std::tm localTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

} // namespace

Watcher::Watcher(const WatchSettings& settings, DetectionSession& session, FrameReader& reader,
                 std::vector<EventSink*> sinks, std::function<void(const std::string&)> report)
    : settings(settings), session(session), reader(reader), sinks(std::move(sinks)), report(std::move(report)),
      tracker(settings.postSeconds),
      preCapture(settings.preSeconds, PreCaptureBuffer::defaultRawByteLimit,
                 settings.clipFormat == ClipFormat::Copy ? PreCaptureBuffer::Holding::Packets
                                                         : PreCaptureBuffer::Holding::Frames),
      files(settings.output, session.frameSize(), settings.clipFormat, this->report), progress(reader.frameCount()) {
    if (settings.maxStorageMb)
        storage.emplace(settings.output, static_cast<unsigned long long>(*settings.maxStorageMb) << 20);
}

int Watcher::run() {
    takeOverDirectory();
    Clock::time_point lastFrameAt = Clock::now();
    bool lost = false;
    bool fileEnded = false;
    tellState(SourceState::Running);
    while (!fileEnded && !stopRequested()) {
        TimedFrame frame;
        const FrameReader::Result result = reader.next(frame, frameWait);
        if (result == FrameReader::Result::Ended) {
            fileEnded = true;
        } else if (result == FrameReader::Result::Frame) {
            if (lost) tellState(SourceState::Running);
            process(frame);
            lastFrameAt = Clock::now();
            lost = false;
        } else if (reader.live() && !lost && Clock::now() - lastFrameAt >= lostSourceLimit) {
            lost = true;
            endRunningEvent(true);
            tellState(SourceState::Lost);
        }
    }
    endRunningEvent(!fileEnded);
    tellState(SourceState::Ended);
    progress.finish(framesSeen, eventsStarted);
    return 0;
}

void Watcher::process(TimedFrame& frame) {
    ++framesSeen;
    session.detect(frame.frame);
    std::vector<DetectedObject> objects = session.detector().getObjects();
    const FrameVerdict verdict = tracker.observe(frame.index, frame.t, objects);
    frame.frame.setObjects(std::move(objects));
    preCapture.push(frame.frame, frame.t);

    switch (verdict.step) {
    case FrameVerdict::Quiet: break;
    case FrameVerdict::Started: startEvent(); break;
    case FrameVerdict::Continued: files.write(clipFrame(frame.frame)); break;
    case FrameVerdict::Ended:
        files.write(clipFrame(frame.frame));
        finishEvent();
        break;
    }
    if (verdict.newSnapshot) files.keepSnapshot(frame.frame.annotated());
    progress.update(framesSeen, eventsStarted);

    const std::function<cv::Mat()> motionMask = [this] { return session.motionMask(); };
    const WatchedFrame watched{frame.frame, frame.index, frame.t, tracker.running(), motionMask};
    for (EventSink* sink : sinks) sink->frame(watched);
}

// A copied clip takes the frame's packets, and the frame need not be made
// colour for it.
ClipFrame Watcher::clipFrame(const VideoFrame& frame) const {
    if (settings.clipFormat == ClipFormat::Copy) return ClipFrame{cv::Mat(), nullptr, frame.packets()};
    return ClipFrame{frame.annotated(), nullptr, nullptr};
}

void Watcher::takeOverDirectory() {
    const EventHistory history = recoverEventHistory(settings.output);
    if (!history.repairs.empty()) {
        std::string line = "repaired what an interrupted run left in " + settings.output.string() + ": ";
        for (size_t i = 0; i < history.repairs.size(); ++i) line += (i > 0 ? "; " : "") + history.repairs[i];
        report(line);
    }
    tracker.continueNumbering(history.lastNumber);
    if (storage)
        for (const EventHistory::EndedFiles& ended : history.ended) storage->add(ended.clip, ended.snapshot);
    for (const EventHistory::Interrupted& event : history.interrupted) {
        const std::string& named = event.files.clip.empty() ? event.files.snapshot : event.files.clip;
        emit(recoveredEndJson(event.event, std::time(nullptr), event.files), event.event, &event.files,
             eventFileStem(named));
        stored(event.files, "");
    }
}

// The clip opens with the buffered frames, the start frame the last of them.
// Its name is chosen before the start line goes out, so that the line's
// sinks know the event's files from the start.
void Watcher::startEvent() {
    ++eventsStarted;
    const std::time_t now = std::time(nullptr);
    files.begin(tracker.event().number, localTime(now), reader.clipFps());
    emit(eventStartJson(tracker.event(), now), tracker.event(), nullptr, files.stem());
    preCapture.forEach([&](const ClipFrame& buffered) { files.write(buffered); });
}

void Watcher::finishEvent() {
    const EventFiles::Written written = files.finish(reader.clipFps());
    emit(eventEndJson(tracker.event(), std::time(nullptr), written), tracker.event(), &written, files.stem());
    stored(written, files.stem());
}

void Watcher::stored(const EventFiles::Written& written, const std::string& keepStem) {
    if (!storage) return;
    storage->add(written.clip, written.snapshot);
    storage->prune(keepStem);
}

void Watcher::endRunningEvent(bool interrupted) {
    if (tracker.finish(interrupted)) finishEvent();
}

void Watcher::emit(const nlohmann::ordered_json& json, const Event& event, const EventFiles::Written* written,
                   const std::string& fileStem) {
    const std::string text = eventLineText(json);
    const EventLine line{written ? EventLine::End : EventLine::Start, event, written, fileStem, text};
    for (EventSink* sink : sinks) sink->line(line);
}

void Watcher::tellState(SourceState state) {
    for (EventSink* sink : sinks) sink->sourceState(state);
}
