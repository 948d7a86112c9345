// Writes the grey frames that motion_trace gives the detector for a video,
// as a file of grey frames (tools/trace/GreyFrames.h) for motion_trace_raw:
//
//   dump_grey_frames VIDEO OUTPUT [--frames N]
//
// The video is opened, read once and converted to grey exactly as
// motion_trace does; a frame it could not use is written as 0 x 0. Exit
// status 0 on success, 1 when the video cannot be opened or the output
// written, 2 for a wrong command line.
#include "io/QuietLibraries.h"
#include "io/VideoSource.h"
#include "tools/trace/GreyFrames.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    long long frames = -1; // all
    if (argc == 5 && std::strcmp(argv[3], "--frames") == 0) frames = std::atoll(argv[4]);
    if (argc != 3 && !(argc == 5 && frames >= 0)) {
        std::fprintf(stderr, "usage: dump_grey_frames VIDEO OUTPUT [--frames N]\n");
        return 2;
    }
    quietLibraryLogging();
    cv::VideoCapture capture;
    const SourceOpening source = openVideoSource(argv[1], capture);
    if (source.failureMessage != nullptr) {
        std::fprintf(stderr, "dump_grey_frames: cannot open the video %s\n", argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    bool written = out != nullptr;
    cv::Mat frame, grey;
    for (long long index = 0; written && (frames < 0 || index < frames); ++index) {
        capture >> frame;
        if (frame.empty()) break;
        if (isUsableFrame(frame, source))
            cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        else
            grey.release();
        written = writeGreyFrame(out, grey.data, grey.cols, grey.rows);
    }
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "dump_grey_frames: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
