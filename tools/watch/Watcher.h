// The watcher's loop: frames in, events, clips, snapshots and lines out.
//
// Each frame goes through the detection session (grey, detector, region
// mask); the reported objects are drawn onto it as the demo draws them, and
// it joins the pre-capture buffer. The event rule (EventTracker) decides
// when an event starts and ends; a starting event's clip begins with the
// buffered frames, every later frame of the event is appended, and the end
// frame closes it. Every log line, every processed frame and every change of
// the source's state go to the sinks (the log file, standard output, the
// --on-event command, whatever else the front end adds). The loop runs until
// the file ends or a stop signal arrives; a live source that delivers
// nothing for 5 seconds ends the running event as interrupted while the
// reader opens it again.
//
// Before the first frame, the watcher takes over the output directory from
// the runs before it (EventHistory): it repairs what a crash left, says so
// in one report, sends the end lines of the events the crash interrupted to
// the sinks, and numbers its events on from the log's highest number. With
// a storage limit, the files of the events that ended first go first.
#pragma once

#include "events/EventFiles.h"
#include "events/EventSink.h"
#include "events/StorageLimit.h"
#include "events/EventTracker.h"
#include "events/PreCaptureBuffer.h"
#include "io/DetectionSession.h"
#include "io/FrameReader.h"
#include "tools/watch/ProgressLine.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the loop needs to know besides its source.
struct WatchSettings {
    std::filesystem::path output;          // clips and snapshots go here
    double preSeconds = 2.0;
    double postSeconds = 3.0;
    std::optional<long long> maxStorageMb; // empty: no limit
    ClipFormat clipFormat = ClipFormat::Avi;
};

class Watcher {
public:
    // sinks: called in this order on the loop's thread. report: every
    // problem worth a line (a file that cannot be written), and the repairs.
    Watcher(const WatchSettings& settings, DetectionSession& session, FrameReader& reader,
            std::vector<EventSink*> sinks, std::function<void(const std::string&)> report);

    // Runs until the file ends or a stop signal; returns the exit status.
    int run();

private:
    void takeOverDirectory();
    void process(TimedFrame& frame);
    ClipFrame clipFrame(const VideoFrame& frame) const;
    void startEvent();
    void finishEvent();
    void endRunningEvent(bool interrupted);
    void stored(const EventFiles::Written& files, const std::string& keepStem);
    void emit(const nlohmann::ordered_json& line, const Event& event, const EventFiles::Written* files,
              const std::string& fileStem);
    void tellState(SourceState state);

    const WatchSettings settings;
    DetectionSession& session;
    FrameReader& reader;
    const std::vector<EventSink*> sinks;
    const std::function<void(const std::string&)> report;
    EventTracker tracker;
    PreCaptureBuffer preCapture;
    EventFiles files;
    std::optional<StorageLimit> storage; // with a limit only
    ProgressLine progress;
    long long framesSeen = 0;
    int eventsStarted = 0; // in this run; the numbers go on from earlier runs
};
