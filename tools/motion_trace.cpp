// Runs the motion detector headless over a video and writes what it reports,
// one JSON line per frame:
//
//   motion_trace CONFIG VIDEO [--frames N] [--output FILE] [--region-mask FILE]
//
// CONFIG is a configuration file as the demo reads it (its numeric keys and
// its region mask are applied the same way; its video source is ignored);
// --region-mask names another mask image instead, "" none. VIDEO is a file
// path, or a camera number as in the configuration. Frames are read and
// converted to grey as the demo does, but a file is read once, without
// looping. Each line holds the frame index, whether the detector accepted the
// frame, the number of motion pixels in the full-size mask and every reported
// object with all its fields; floats are printed with 9 significant digits,
// which reads back to the same float. A frame the demo would skip (size or type
// differing from the first) is not given to the detector and reads as not
// accepted, with no motion and no objects.
//
// Exit status 0 on success, 1 when the configuration, the region mask, the
// video or the output cannot be used, 2 for a wrong command line.
#include "detector/MotionDetector.h"
#include "io/DetectionSession.h"
#include "io/QuietLibraries.h"
#include "tools/trace/TraceLine.h"

#include <opencv2/videoio.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string config;
    std::string video;
    long long frames = -1; // all
    std::string output;    // standard output when empty
    std::optional<std::string> regionMask; // the configuration's when not given
};

int usage() {
    std::fprintf(stderr, "usage: motion_trace CONFIG VIDEO [--frames N] [--output FILE] [--region-mask FILE]\n");
    return 2;
}

bool parseCount(const char* text, long long& count) {
    char* end = nullptr;
    count = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && count >= 0;
}

bool parse(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            if (!parseCount(argv[++i], o.frames)) return false;
        } else if (arg == "--output" && i + 1 < argc) {
            o.output = argv[++i];
        } else if (arg == "--region-mask" && i + 1 < argc) {
            o.regionMask = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return false;
    o.config = positional[0];
    o.video = positional[1];
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "motion_trace: %s\n", message.c_str());
    return 1;
}

// A one-line progress display on a terminal, redrawn at most ten times a second.
class Progress {
public:
    Progress(long long total) : enabled(isatty(STDERR_FILENO) == 1), total(total) {}

    void update(long long done) {
        if (!enabled) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw < std::chrono::milliseconds(100)) return;
        lastDraw = now;
        draw(done);
    }

    void finish(long long done) {
        if (!enabled) return;
        draw(done);
        std::fputc('\n', stderr);
    }

private:
    void draw(long long done) {
        if (total <= 0) {
            std::fprintf(stderr, "\rframe %lld", done);
        } else {
            constexpr int width = 40;
            const long long filled = std::min<long long>(width, done * width / total);
            std::fprintf(stderr, "\r[%s%s] %lld/%lld frames", std::string(size_t(filled), '#').c_str(),
                         std::string(size_t(width - filled), ' ').c_str(), done, total);
        }
        std::fflush(stderr);
    }

    bool enabled;
    long long total;
    std::chrono::steady_clock::time_point lastDraw{};
};

long long frameTotal(const cv::VideoCapture& capture, long long limit) {
    const double reported = capture.get(cv::CAP_PROP_FRAME_COUNT);
    const long long count = reported >= 1 ? static_cast<long long>(reported) : 0;
    if (limit < 0) return count;
    return count > 0 ? std::min(count, limit) : limit;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return usage();

    // The libraries' own diagnostics (decoders and backends tried in turn,
    // a damaged stream) would only bury the one line that says what went
    // wrong, or the trace on standard output.
    quietLibraryLogging();
    MotionDetector detector;
    DetectionSession session(detector);
    cv::VideoCapture capture;
    // The configuration's video source is ignored: the command line names the video.
    const SessionRequest request{options.config, options.regionMask, options.video,
                                 [&](const std::string& text) { return openVideoSource(text, capture); }};
    switch (session.start(request)) {
    case StartFailure::Configuration: return fail("cannot read the configuration " + options.config);
    case StartFailure::RegionMask: return fail("cannot read the region mask " + session.regionMaskFile());
    case StartFailure::FileDialog: return fail("the file dialog needs the demo program; name the video file");
    case StartFailure::Source: return fail("cannot open the video " + options.video);
    case StartFailure::None: break;
    }
    const SourceOpening& source = session.opening();

    std::FILE* out = stdout;
    if (!options.output.empty()) {
        out = std::fopen(options.output.c_str(), "w");
        if (out == nullptr) return fail("cannot write " + options.output);
    }

    const int width = source.frameWidth;
    const int height = source.frameHeight;
    cv::Mat frame;
    std::vector<uint8_t> mask(size_t(std::max(width, 0)) * size_t(std::max(height, 0)), 0);
    Progress progress(frameTotal(capture, options.frames));
    long long index = 0;
    for (; options.frames < 0 || index < options.frames; ++index) {
        capture >> frame;
        if (frame.empty()) break;
        if (!isUsableFrame(frame, source)) {
            printTraceLine(out, index, false, 0, {});
            continue;
        }
        const bool accepted = session.detect(frame);
        detector.getMotionMask(mask.data());
        const long long motionPixels = std::count(mask.begin(), mask.end(), uint8_t{255});
        printTraceLine(out, index, accepted, motionPixels, detector.getObjects());
        progress.update(index + 1);
    }
    progress.finish(index);

    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout && std::fclose(out) != 0) return fail("cannot write " + options.output);
    return written ? 0 : fail("cannot write the output");
}
