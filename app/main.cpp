// Entry point of the motion detector demo: prints the banner, reads
// Config_Params.json from the working directory, the region mask and the
// video source it names, makes sure there is a display for the windows and
// runs the live loop. Command-line arguments are ignored; every way out returns -1.
#include "app/Display.h"
#include "app/FilePicker.h"
#include "app/LiveLoop.h"
#include "app/ZoneEditor.h"
#include "detector/MotionDetector.h"
#include "io/DetectionSession.h"
#include "io/QuietLibraries.h"
#include "io/Shutdown.h"
#include "io/ThreadSpinning.h"
#include "io/VideoSource.h"

#include <opencv2/videoio.hpp>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>

std::string configFilePath = "Config_Params.json";
std::string videoSourceInitString;
int32_t frameWidth = 0;
int32_t frameHeight = 0;
cv::VideoCapture capture;
MotionDetector detector;

namespace {

void printBanner() {
    const char* const lines[] = {
        "###################################################",
        "#                                                 #",
        "#   Brannockvelderstimane Demo Application v4.0   #",
        "#                                                 #",
        "###################################################",
        "",
    };
    for (const char* line : lines) std::cout << line << std::endl;
}

// The pause keeps the line readable when the console closes with the program.
int failStartup(const char* message) {
    std::cout << message << std::endl;
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    return -1;
}

} // namespace

int main(int, char** argv) {
    restartWithShortSpinning(argv);
    installStopSignals();
    ignoreBrokenPipe();
    quietLibraryLogging();
    printBanner();
    DetectionSession session(detector);
    // The display is asked for just before the first thing that needs it
    // (the file picker, else the windows), so that the configuration and a
    // plain source are still checked on a machine without one.
    const auto openSource = [](const std::string& text) {
        if (classifySource(text) == SourceKind::FileDialog && !displayReachable()) {
            SourceOpening noDisplay;
            noDisplay.failureMessage = noDisplayMessage;
            return noDisplay;
        }
        return openVideoSource(text, capture, openVideoFileDialog);
    };
    switch (session.start({configFilePath, std::nullopt, "", openSource, /*fileDialog=*/true})) {
    case StartFailure::Configuration: return failStartup("Configuration params not read");
    case StartFailure::RegionMask: return failStartup("Region mask not read");
    case StartFailure::Source: return failStartup(session.opening().failureMessage);
    case StartFailure::FileDialog: // allowed here
    case StartFailure::None: break;
    }
    videoSourceInitString = session.configured().videoSourceInitString;
    if (!displayReachable()) return failStartup(noDisplayMessage);
    frameWidth = session.opening().frameWidth;
    frameHeight = session.opening().frameHeight;
    ZoneEditor zones(session.regionMask(), session.configured().regionMaskFile);
    return runLiveLoop(capture, session, zones);
}
