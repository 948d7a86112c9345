// Watches a video source headless and turns motion into events: a line in
// the events log when one starts and ends, a clip from a little before the
// start to the end, and a snapshot of its busiest frame.
//
//   motion_watch [--config FILE] [--source TEXT] [--output DIR] [--pre SECONDS]
//                [--post SECONDS] [--on-event COMMAND] [--max-storage-mb N]
//                [--region-mask FILE]
//
// Everything that can be wrong with the input is checked before the first
// output file is created: the command line (status 2), the configuration,
// the region mask, the source and the output directory (status 1), each
// with one line on stderr. A file source ends with status 0 at its end; a
// live one runs until SIGINT, SIGTERM or SIGHUP, which also give status 0.
#include "io/QuietLibraries.h"
#include "io/RegionMask.h"
#include "io/Shutdown.h"
#include "io/ThreadSpinning.h"
#include "config/ConfigReader.h"
#include "detector/MotionDetector.h"
#include "events/EventLog.h"
#include "io/FrameReader.h"
#include "tools/watch/WatchOptions.h"
#include "tools/watch/Watcher.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "motion_watch: %s\n", message.c_str());
    return 1;
}

// Creates the directory when missing; true when files can be made in it.
bool prepareOutputDirectory(const fs::path& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    return fs::is_directory(directory, error) && access(directory.c_str(), W_OK | X_OK) == 0;
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
    ignoreBrokenPipe();
    installStopSignals();
    // The libraries' own diagnostics (backends tried in turn, every failed
    // connection to a stream that dropped) would bury the lines that say
    // what went wrong.
    quietLibraryLogging();

    MotionDetector detector;
    ConfigTexts configured;
    if (!readConfiguration(options.config, detector, configured))
        return fail("cannot read the configuration " + options.config);
    const std::string maskFile = options.regionMask.value_or(configured.regionMaskFile);
    RegionMask regionMask;
    if (!maskFile.empty() && !regionMask.load(maskFile)) return fail("cannot read the region mask " + maskFile);
    const std::string source = options.source.empty() ? configured.videoSourceInitString : options.source;
    if (isFileDialogRequest(source)) return fail("the file dialog needs the demo program; name the video with --source");

    FrameReader reader(source);
    const SourceOpening opening = reader.open();
    if (opening.failureMessage != nullptr) return fail("cannot open the video source " + source);

    if (!prepareOutputDirectory(options.output)) return fail("cannot write to the output directory " + options.output);
    EventLog log;
    if (!log.open((fs::path(options.output) / "events.jsonl").string()))
        return fail("cannot write to the output directory " + options.output);

    // The frame size and the scale factor stay as opened: one mask serves the whole run.
    const cv::Size frameSize(opening.frameWidth, opening.frameHeight);
    const uint8_t* watched = regionMask.forFrame(frameSize, static_cast<int>(detector.getParam(SCALE_FACTOR)));
    Watcher watcher(options, detector, reader, frameSize, watched, log);
    return watcher.run();
}
