// Choosing, opening and pacing the video source.
//
// The configured source text names a camera (4 bytes or fewer: an index
// such as "0"), a stream (5 bytes or more with a scheme, such as
// rtsp://host/stream), or a video file (any other text of 5 bytes or more:
// a path). The reserved text "open file dialog" lets the user pick the file
// instead. Every program classifies the text with the one function below,
// so that opening, rewinding, pacing and "is it live?" always agree.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class DirectDecoder;

namespace cv {
class Mat;
class VideoCapture;
}

enum class SourceKind { File, Camera, Stream, FileDialog };

// FileDialog for the reserved text (exact bytes, case included), Camera for
// texts of 4 bytes or fewer, Stream for longer ones holding "://", File
// otherwise.
SourceKind classifySource(const std::string& text);

// Streams and files are opened by name, paced at the rate they report and
// started over at their end (which a stream usually refuses).
inline bool opensByName(SourceKind kind) { return kind != SourceKind::Camera; }

// Cameras and streams deliver frames as they happen; files can be read at
// any speed.
inline bool isLive(SourceKind kind) { return kind == SourceKind::Camera || kind == SourceKind::Stream; }

// Decimal camera index as the C library reads it: leading white space, an
// optional sign, the longest run of digits; anything after is ignored.
// Empty when no digit follows, as in "", "-" or "a.mp".
std::optional<int> cameraIndex(const std::string& text);

// A file's reported frame rate, kept when strictly between 1 and 60 and
// replaced by 30 otherwise (files that report 0, or nonsense).
double clampSourceFps(double reportedFps);

// What the opening found out about a source.
struct SourceOpening {
    const char* failureMessage = nullptr; // the line to print, or null once open
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    double sourceFps = 0.0; // files only: the pacing rate
};

// Lets the user choose a video file and opens capture on it; returns whether
// capture is open afterwards. Programs with a desktop pass one (see
// app/FilePicker.h); the video source itself needs no window system.
using FilePicker = bool (*)(cv::VideoCapture& capture);

// Opens capture on the source the text names; the reserved text asks picker
// for the file, and fails without one. On failure the message is
// "Camera not open" or "Video file not open". streamParams: OpenCV's open
// parameters for a stream (time-outs), nothing for other sources.
SourceOpening openVideoSource(const std::string& text, cv::VideoCapture& capture, FilePicker picker = nullptr,
                              const std::vector<int>& streamParams = {});

// Opens a file or a stream (by name, not the reserved text) on FFmpeg's
// libraries directly, giving up after timeout; fails with "Video file not
// open", as openVideoSource does. keepPackets: see DirectDecoder::open.
SourceOpening openDecodedSource(const std::string& text, DirectDecoder& decoder, std::chrono::milliseconds timeout,
                                bool keepPackets = false);

// Whether a frame read from the source has the size it opened with and
// 8-bit BGR pixels; any other frame is treated as missing.
bool isUsableFrame(const cv::Mat& frame, const SourceOpening& source);

// For a frame that is not empty but not usable either: "Frames from the
// video source are 640x480 CV_8UC1 instead of 320x240 CV_8UC3 as at opening".
std::string describeFrameMismatch(const cv::Mat& frame, const SourceOpening& source);

// After an empty read: a file is repositioned to its frame with index 1 (the
// second frame), so playback loops; a camera is left alone.
void rewindAtEndOfStream(const std::string& text, cv::VideoCapture& capture);

// The clock the pacing reads and sleeps on: a monotonic one, so that steps
// of the wall clock (a resumed laptop, a time server's correction) neither
// hold playback up nor rush it. Tests substitute a clock they drive.
struct SystemPacingClock {
    std::chrono::steady_clock::time_point now() const { return std::chrono::steady_clock::now(); }
    void sleepOneMillisecond() const {
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    }
};

// Holds a file's playback to its frame rate: returns once one frame period
// (1e6 / sourceFps microseconds) has passed since lastPassTime, sleeping in
// 1 ms steps. A pass that already took longer (minutes or days, when the
// program was stopped) is not made up for. Cameras are never paced.
template <class Clock>
void paceSource(const std::string& text, double sourceFps, std::chrono::steady_clock::time_point lastPassTime,
                Clock& clock) {
    if (!opensByName(classifySource(text))) return;
    const double periodMicroseconds = 1000000.0 / sourceFps;
    const auto elapsedMicroseconds = [&] {
        using std::chrono::microseconds;
        return static_cast<int64_t>(std::chrono::duration_cast<microseconds>(clock.now() - lastPassTime).count());
    };
    while (periodMicroseconds > elapsedMicroseconds()) clock.sleepOneMillisecond();
}
