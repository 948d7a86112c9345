// Watches a video source headless and turns motion into events: a line in
// the events log when one starts and ends, a clip from a little before the
// start to the end, and a snapshot of its busiest frame.
//
//   motion_watch [--config FILE] [--source TEXT] [--output DIR] [--pre SECONDS]
//                [--post SECONDS] [--on-event COMMAND] [--max-storage-mb N]
//                [--region-mask FILE] [--name NAME] [--clip-format avi|mp4]
//                [--mqtt HOST[:PORT] [--mqtt-auth FILE] [--mqtt-prefix PREFIX]
//                 [--mqtt-discovery-prefix PREFIX] [--mqtt-persist]]
//                [--http [ADDR:]PORT] [--http-auth FILE]
//
// Everything that can be wrong with the input is checked before the first
// output file is created: the command line (status 2), the configuration,
// the region mask, the source, the MQTT names and login, the web page's
// credentials and port, and the output directory (status 1), each
// with one line on stderr. A file source ends with status 0 at its end; a
// live one runs until SIGINT, SIGTERM or SIGHUP, which also give status 0,
// even while the source is still being opened.
#include "detector/MotionDetector.h"
#include "events/CommandRunner.h"
#include "events/LogSinks.h"
#include "io/DetectionSession.h"
#include "io/FrameReader.h"
#include "io/QuietLibraries.h"
#include "io/Shutdown.h"
#include "io/ThreadSpinning.h"
#include "mqtt/MqttSink.h"
#include "tools/watch/WatchOptions.h"
#include "tools/watch/Watcher.h"
#include "web/WatchWebPage.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

// One call per line: the event command's and the broker's threads report too.
void report(const std::string& message) {
    std::fprintf(stderr, "motion_watch: %s\n", message.c_str());
}

int fail(const std::string& message) {
    report(message);
    return 1;
}

// Creates the directory when missing; true when files can be made in it.
bool prepareOutputDirectory(const fs::path& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    return fs::is_directory(directory, error) && access(directory.c_str(), W_OK | X_OK) == 0;
}

// What the watcher says on stderr about its source, besides the problems.
class SourceStateLines : public EventSink {
public:
    void sourceState(SourceState state) override {
        if (state == SourceState::Lost) std::cerr << "Video source lost, reopening" << std::endl;
    }
};

std::string startFailureLine(StartFailure failure, const WatchOptions& options, const DetectionSession& session) {
    switch (failure) {
    case StartFailure::Configuration: return "cannot read the configuration " + options.config;
    case StartFailure::RegionMask: return "cannot read the region mask " + session.regionMaskFile();
    case StartFailure::FileDialog: return "the file dialog needs the demo program; name the video with --source";
    case StartFailure::Source: return "cannot open the video source " + session.sourceText();
    case StartFailure::None: break;
    }
    return "";
}

// The broker settings in force: the camera's name and the login filled in.
// Returns what is wrong with them, or "".
std::string mqttSettings(const WatchOptions& options, MqttOptions& mqtt) {
    mqtt = options.mqtt;
    mqtt.name = options.cameraName();
    const std::string problem = checkMqttNames(mqtt);
    if (!problem.empty() || options.mqttLoginFile.empty()) return problem;
    return readMqttLogin(options.mqttLoginFile, mqtt.user, mqtt.password);
}

} // namespace

int main(int argc, char** argv) {
    // The detector's threads share the cores with decoding and clip encoding.
    restartWithShortSpinning(argv);
    std::string error;
    const std::optional<WatchOptions> parsed = parseWatchOptions(argc, argv, error);
    if (!parsed) {
        std::fprintf(stderr, "motion_watch: %s\n%s", error.c_str(), watchUsage());
        return 2;
    }
    const WatchOptions& options = *parsed;
    if (options.help) {
        std::fputs(watchUsage(), stdout);
        return 0;
    }
    if (const std::string problem = webOptionsProblem(options); !problem.empty()) {
        report(problem);
        return 2;
    }
    ignoreBrokenPipe();
    installStopSignals();
    // The libraries' own diagnostics (backends tried in turn, every failed
    // connection to a stream that dropped) would bury the lines that say
    // what went wrong.
    quietLibraryLogging();

    MotionDetector detector;
    DetectionSession session(detector);
    std::unique_ptr<FrameReader> reader;
    const ReaderChoice choice{options.greyInput, options.clipFormat == ClipFormat::Copy};
    // A webcam's frames come without compressed packets: refused before it opens.
    bool cameraRefused = false;
    SessionRequest request{options.config, options.regionMask, options.source, [&](const std::string& text) {
                               if (choice.sourcePackets && classifySource(text) == SourceKind::Camera) {
                                   cameraRefused = true;
                                   return SourceOpening{"", 0, 0, 0.0};
                               }
                               reader = std::make_unique<FrameReader>(text, choice);
                               return reader->open(stopRequested);
                           }};
    const StartFailure failure = session.start(request);
    // A stop signal while a stream was still opening ends the watcher as
    // any stop does, with nothing created.
    if (failure != StartFailure::None && stopRequested()) return 0;
    if (cameraRefused)
        return fail("--clip-format copy needs a stream or a video file: a camera's frames come without their packets");
    if (failure != StartFailure::None) return fail(startFailureLine(failure, options, session));
    MqttOptions mqtt;
    if (!options.mqtt.host.empty()) {
        const std::string problem = mqttSettings(options, mqtt);
        if (!problem.empty()) return fail(problem);
    }

    std::unique_ptr<WatchWebPage> web;
    if (options.http) {
        web = std::make_unique<WatchWebPage>();
        const WebPageSetup setup{*options.http, options.httpAuth, options.cameraName(), options.output, options.config};
        if (const std::string problem = web->open(setup, session, report); !problem.empty()) return fail(problem);
    }

    if (!prepareOutputDirectory(options.output)) return fail("cannot write to the output directory " + options.output);
    EventLogFile log(report);
    if (!log.open((fs::path(options.output) / "events.jsonl").string()))
        return fail("cannot write to the output directory " + options.output +
                    (log.inUse() ? ": another motion_watch writes there" : ""));

    StandardOutputLines standardOutput;
    SourceStateLines sourceLines;
    std::vector<EventSink*> sinks{&log, &standardOutput, &sourceLines};
    std::unique_ptr<CommandRunner> commands;
    if (!options.onEvent.empty()) {
        commands = std::make_unique<CommandRunner>(options.onEvent, report);
        sinks.push_back(commands.get());
    }
    std::unique_ptr<MqttSink> broker;
    if (!mqtt.host.empty()) {
        broker = std::make_unique<MqttSink>(mqtt, options.output, session.settings(), report);
        sinks.push_back(broker.get());
    }
    if (web) sinks.push_back(&web->sink());
    const WatchSettings settings{options.output, options.preSeconds, options.postSeconds, options.maxStorageMb,
                                 options.clipFormat};
    Watcher watcher(settings, session, *reader, sinks, report);
    if (web) web->start();
    return watcher.run();
}
