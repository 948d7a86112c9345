// One run of the detector over one video source: what every front end (the
// demo, motion_trace, motion_watch) does between its own command line and
// its own output.
//
// start() goes through the start-up in one order for all of them: read the
// configuration into the detector, load the region mask (the configuration's
// or the one the front end names), refuse the file dialog where the front
// end has none, open the source. The first step that fails ends it, and the
// front end prints its own message for that step. Then, per frame, detect()
// turns the colour frame grey and runs the detector within the region mask,
// after applying what other threads submitted for the next frame (new
// settings, a new region mask); the front end takes the objects and draws
// them.
#pragma once

#include "config/ConfigReader.h"
#include "config/LiveSettings.h"
#include "io/RegionMask.h"
#include "io/VideoFrame.h"
#include "io/VideoSource.h"

#include <opencv2/core.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class MotionDetector;

struct SessionRequest {
    std::string configPath;
    std::optional<std::string> regionMask; // instead of the configuration's; "" none
    std::string source;                    // instead of the configuration's when not empty
    // Opens the source the text names and says how that went: each front
    // end opens its own way (on a thread of its own, with a window).
    std::function<SourceOpening(const std::string& text)> openSource;
    // Only the demo has a file dialog; the others refuse that text.
    bool fileDialog = false;
};

enum class StartFailure { None, Configuration, RegionMask, FileDialog, Source };

class DetectionSession {
public:
    explicit DetectionSession(MotionDetector& detector);

    StartFailure start(const SessionRequest& request);

    // After start(), as far as it got.
    MotionDetector& detector() { return motion; }
    const ConfigTexts& configured() const { return texts; }
    const std::string& regionMaskFile() const { return maskFile; } // "" none
    const std::string& sourceText() const { return source; }
    SourceKind sourceKind() const { return classifySource(source); }
    const SourceOpening& opening() const { return opened; }
    cv::Size frameSize() const { return cv::Size(opened.frameWidth, opened.frameHeight); }
    RegionMask& regionMask() { return mask; } // edited by the demo's zone editor

    // The detector's parameters, changed from any thread while it runs
    // (web page, broker) and written back to the configuration file.
    LiveSettings& settings() { return *live; }

    // Runs the detector on a BGR frame of the opened size; true when the
    // detector accepted it.
    bool detect(const cv::Mat& frame);

    // The same for a frame from the watcher's reader, grey as it chose.
    bool detect(const VideoFrame& frame);

    // The motion mask of the last accepted frame at frame size, 255 motion.
    cv::Mat motionMask();

    // From any thread: the region mask at frame size (255 watched, 0
    // excluded), and a new one (the same form, or any grey image, which the
    // mask rule turns into one) in force from the next frame.
    cv::Mat regionMaskImage();
    void submitRegionMask(cv::Mat image);

private:
    void applySubmitted();
    bool detectGrey();

    MotionDetector& motion;
    ConfigTexts texts;
    std::string maskFile;
    std::string source;
    SourceOpening opened;
    RegionMask mask;
    std::unique_ptr<LiveSettings> live;
    cv::Mat greyFrame;

    std::mutex submittedMutex;
    cv::Mat submittedMask; // empty: nothing waiting
    cv::Mat publishedMask; // the mask in force at frame size, for other threads
};
