#include "app/LiveLoop.h"

#include "io/Overlay.h"
#include "io/Recorder.h"
#include "io/Shutdown.h"
#include "app/ZoneEditor.h"
#include "detector/MotionDetector.h"
#include "io/DetectionSession.h"

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

namespace {

using std::chrono::steady_clock;
using std::chrono::system_clock;

constexpr const char* inputWindow = "INPUT VIDEO";
constexpr const char* maskWindow = "MOTION MASK";

constexpr int keyEscape = 27;
constexpr int keyReset = ' ';
constexpr int keyRecord = 'r'; // lower case only

// Between reads that deliver nothing the keyboard is polled this long, which
// is also the pause that keeps the retries from spinning.
constexpr int emptyReadPollMilliseconds = 10;

void createWindows(int frameWidth) {
    // GUI_NORMAL: without it the Qt windows get a toolbar, grow wider than
    // the frame and the mask window would cover the input window.
    const int flags = cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;
    cv::namedWindow(inputWindow, flags);
    cv::moveWindow(inputWindow, 5, 5);
    cv::namedWindow(maskWindow, flags);
    cv::moveWindow(maskWindow, frameWidth + 10, 5);
}

void drawProcessingTime(cv::Mat& frame, long long milliseconds) {
    drawOverlayText(frame, "Processing time " + std::to_string(milliseconds) + " ms", cv::Point(frame.cols - 200, 15),
                    overlayRed);
}

// A window closed with its close button is gone (showing into it again would
// make a new one), so the question is asked right after the keyboard poll,
// where the toolkit handles the request, and before the next show.
bool aWindowWasClosed() {
    for (const char* name : {inputWindow, maskWindow})
        if (cv::getWindowProperty(name, cv::WND_PROP_VISIBLE) < 1.0) return true;
    return false;
}

// ESC, a stop signal and a closed window all end the program the same way.
bool endRequested(int key) {
    return key == keyEscape || stopRequested() || aWindowWasClosed();
}

void actOnKey(int key, MotionDetector& detector, Recorder& recorder, ZoneEditor& zones) {
    if (key == keyReset) detector.reset();
    if (key == keyRecord) recorder.toggle();
    zones.handleKey(key);
}

int shutDown(Recorder& recorder) {
    cv::destroyAllWindows();
    recorder.stop();
    return -1;
}

} // namespace

int runLiveLoop(cv::VideoCapture& capture, DetectionSession& session, ZoneEditor& zones) {
    MotionDetector& detector = session.detector();
    const std::string& sourceText = session.sourceText();
    const SourceOpening& source = session.opening();
    const int width = source.frameWidth;
    const int height = source.frameHeight;
    createWindows(width);
    zones.attach(inputWindow, cv::Size(width, height));
    cv::Mat frame(height, width, CV_8UC3);
    cv::Mat maskImage(height, width, CV_8UC1);
    Recorder recorder(cv::Size(width, height));
    const ExitGuard displayLoss([&recorder] { recorder.stop(); });
    SystemPacingClock pacingClock;
    bool stalled = false; // no usable frame since the first failed read
    steady_clock::time_point stalledSince;
    std::string mismatch; // why the last frame that came was unusable
    steady_clock::time_point lastPassTime = steady_clock::now();

    for (;;) {
        capture >> frame;
        if (!isUsableFrame(frame, source)) {
            // An empty read at the end of a file only needs the rewind and an
            // immediate retry; only a source that keeps failing is waited on.
            if (frame.empty()) rewindAtEndOfStream(sourceText, capture);
            else mismatch = describeFrameMismatch(frame, source);
            if (!stalled) {
                stalled = true;
                stalledSince = steady_clock::now();
                continue;
            }
            if (steady_clock::now() - stalledSince >= std::chrono::seconds(noFrameLimitSeconds)) {
                if (mismatch.empty())
                    std::cout << "No frame from the video source for " << noFrameLimitSeconds << " seconds, ending"
                              << std::endl;
                else std::cout << mismatch << ", ending" << std::endl;
                return shutDown(recorder);
            }
            const int key = cv::waitKey(emptyReadPollMilliseconds);
            if (endRequested(key)) return shutDown(recorder);
            actOnKey(key, detector, recorder, zones);
            continue;
        }
        stalled = false;
        mismatch.clear();

        const system_clock::time_point t0 = system_clock::now();
        session.detect(frame);
        const system_clock::time_point t1 = system_clock::now();
        const long long processingMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count();

        detector.getMotionMask(maskImage.data);
        zones.annotate(frame);
        drawObjects(frame, detector.getObjects());
        drawProcessingTime(frame, processingMilliseconds);
        if (recorder.isRecording()) {
            // The file gets the frame without the label that only the window shows.
            recorder.write(frame);
            drawOverlayText(frame, "RECORDING", cv::Point(5, 15), overlayRed);
        }
        cv::imshow(inputWindow, frame);
        cv::imshow(maskWindow, maskImage);

        const int key = cv::waitKey(1);
        if (endRequested(key)) return shutDown(recorder);
        actOnKey(key, detector, recorder, zones);

        paceSource(sourceText, source.sourceFps, lastPassTime, pacingClock);
        lastPassTime = steady_clock::now();
    }
}
