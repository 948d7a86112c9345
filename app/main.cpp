// Entry point of the motion detector demo: prints the banner, reads
// Config_Params.json from the working directory, the region mask and the
// video source it names, makes sure there is a display for the windows and
// runs the live loop. Command-line arguments are ignored; every way out returns -1.
#include "app/Display.h"
#include "app/FilePicker.h"
#include "app/LiveLoop.h"
#include "app/QuietLibraries.h"
#include "app/RegionMask.h"
#include "app/Shutdown.h"
#include "app/VideoSource.h"
#include "app/ZoneEditor.h"
#include "config/ConfigReader.h"
#include "detector/MotionDetector.h"

#include <opencv2/videoio.hpp>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <utility>

#include <unistd.h>

std::string configFilePath = "Config_Params.json";
std::string videoSourceInitString;
int32_t frameWidth = 0;
int32_t frameHeight = 0;
cv::VideoCapture capture;
MotionDetector detector;

namespace {

// OpenMP's default keeps idle workers spinning for milliseconds after every
// parallel region, on the core where the main thread goes on to decode and
// show the next frame, which makes two threads slower than one. Workers that
// sleep at once are no better: the main thread then sleeps at the end of the
// region too and waits to be woken. A short spin, about 0.1 ms, lets the
// threads meet at the end of a region and then frees the core.
//
// The runtime reads its setting from the environment only when it is loaded,
// before main, and the C library resets the environment after any earlier
// hook; so the program sets the variable and starts itself once more. A wait
// policy or spin count set by the user is kept. If the restart fails, the
// program goes on with the runtime's defaults.
void restartWithShortSpinning(char** argv) {
    if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT")) return;
    if (setenv("GOMP_SPINCOUNT", "10000", 0) != 0) return;
    execv("/proc/self/exe", argv);
}

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
    ConfigTexts texts;
    if (!readConfiguration(configFilePath, detector, texts)) return failStartup("Configuration params not read");
    videoSourceInitString = texts.videoSourceInitString;
    RegionMask regionMask;
    if (!texts.regionMaskFile.empty() && !regionMask.load(texts.regionMaskFile))
        return failStartup("Region mask not read");
    // The display is asked for just before the first thing that needs it
    // (the file picker, else the windows), so that the configuration and a
    // plain source are still checked on a machine without one.
    if (isFileDialogRequest(videoSourceInitString) && !displayReachable()) return failStartup(noDisplayMessage);
    const SourceOpening source = openVideoSource(videoSourceInitString, capture, openVideoFileDialog);
    if (source.failureMessage != nullptr) return failStartup(source.failureMessage);
    if (!displayReachable()) return failStartup(noDisplayMessage);
    frameWidth = source.frameWidth;
    frameHeight = source.frameHeight;
    ZoneEditor zones(std::move(regionMask), texts.regionMaskFile);
    return runLiveLoop(capture, videoSourceInitString, source, detector, zones);
}
