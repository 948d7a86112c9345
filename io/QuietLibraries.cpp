#include "io/QuietLibraries.h"

#include <opencv2/core/utils/logger.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdlib>

void quietLibraryLogging() {
    // OpenCV reads its variable when it is loaded, before main: its level is
    // set through its interface instead, unless the user chose one.
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr)
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0); // FFmpeg's AV_LOG_QUIET
    // OpenCV applies that level when it first opens a video with FFmpeg; a
    // stream decoded directly may come first.
    av_log_set_level(std::atoi(std::getenv("OPENCV_FFMPEG_LOGLEVEL")));
    setenv("GST_DEBUG", "0", 0);
    // OpenCV's own Motion-JPEG AVI reader is only tried after FFmpeg has
    // failed on the same file, and it reports a damaged file on standard
    // error with no way to turn that off; FFmpeg reads every such file it can.
    setenv("OPENCV_VIDEOIO_PRIORITY_CV_MJPEG", "0", 0);
}
