#include "io/VideoSource.h"

#include "io/DirectDecoder.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <cstdlib>
#include <string>

namespace {

constexpr const char* cameraNotOpen = "Camera not open";
constexpr const char* videoFileNotOpen = "Video file not open";

bool openFile(const std::string& text, cv::VideoCapture& capture, FilePicker picker,
              const std::vector<int>& streamParams) {
    const SourceKind kind = classifySource(text);
    if (kind == SourceKind::FileDialog) return picker != nullptr && picker(capture);
    if (kind == SourceKind::Stream && !streamParams.empty()) return capture.open(text, cv::CAP_ANY, streamParams);
    return capture.open(text, cv::CAP_ANY);
}

} // namespace

SourceKind classifySource(const std::string& text) {
    if (text == "open file dialog") return SourceKind::FileDialog;
    if (text.size() < 5) return SourceKind::Camera;
    return text.find("://") != std::string::npos ? SourceKind::Stream : SourceKind::File;
}

std::optional<int> cameraIndex(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const long index = std::strtol(begin, &end, 10);
    if (end == begin) return std::nullopt;
    return static_cast<int>(index); // at most four bytes: always in range
}

double clampSourceFps(double reportedFps) {
    // Written as the accepted interval so that NaN falls back to 30 as well.
    if (reportedFps > 1.0 && reportedFps < 60.0) return reportedFps;
    return 30.0;
}

SourceOpening openVideoSource(const std::string& text, cv::VideoCapture& capture, FilePicker picker,
                              const std::vector<int>& streamParams) {
    SourceOpening opening;
    if (opensByName(classifySource(text))) {
        if (!openFile(text, capture, picker, streamParams)) {
            opening.failureMessage = videoFileNotOpen;
            return opening;
        }
        opening.sourceFps = clampSourceFps(capture.get(cv::CAP_PROP_FPS));
    } else {
        // A text that is no number fails like a camera that is not there.
        const std::optional<int> index = cameraIndex(text);
        if (!index || !capture.open(*index, cv::CAP_ANY)) {
            opening.failureMessage = cameraNotOpen;
            return opening;
        }
    }
    opening.frameWidth = static_cast<int32_t>(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    opening.frameHeight = static_cast<int32_t>(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    return opening;
}

SourceOpening openDecodedSource(const std::string& text, DirectDecoder& decoder, std::chrono::milliseconds timeout,
                                bool keepPackets) {
    SourceOpening opening;
    const SourceKind kind = classifySource(text);
    if ((kind != SourceKind::File && kind != SourceKind::Stream) || !decoder.open(text, timeout, keepPackets)) {
        opening.failureMessage = videoFileNotOpen;
        return opening;
    }
    opening.sourceFps = clampSourceFps(decoder.fps());
    opening.frameWidth = decoder.width();
    opening.frameHeight = decoder.height();
    return opening;
}

bool isUsableFrame(const cv::Mat& frame, const SourceOpening& source) {
    return frame.cols == source.frameWidth && frame.rows == source.frameHeight && frame.type() == CV_8UC3;
}

std::string describeFrameMismatch(const cv::Mat& frame, const SourceOpening& source) {
    const auto size = [](int width, int height) { return std::to_string(width) + "x" + std::to_string(height); };
    return "Frames from the video source are " + size(frame.cols, frame.rows) + " " + cv::typeToString(frame.type()) +
           " instead of " + size(source.frameWidth, source.frameHeight) + " " + cv::typeToString(CV_8UC3) +
           " as at opening";
}

void rewindAtEndOfStream(const std::string& text, cv::VideoCapture& capture) {
    if (opensByName(classifySource(text))) capture.set(cv::CAP_PROP_POS_FRAMES, 1.0);
}
