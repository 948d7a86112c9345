// Runs the motion detector over grey frames and writes the same JSON lines
// as motion_trace; it needs no video library, so that a trace made on one
// machine can be compared with one made on another from the same frames:
//
//   motion_trace_raw [--frames N] [--output FILE] [--kernel NAME] [KEY=VALUE ...] [FRAMES]
//   motion_trace_raw --kernels
//
// FRAMES is a file of grey frames as described in tools/trace/GreyFrames.h
// (the standard input when absent), for example what dump_grey_frames
// writes from a video with motion_trace's conversion to grey. KEY=VALUE sets
// the parameter of that key in the configuration file (num_threads=2); the
// others keep their defaults. --kernel NAME updates the background with that
// kernel instead of the fastest one; --kernels lists the kernels this
// processor runs, the fastest last. A 0 x 0 frame is not given to the
// detector and reads as not accepted, with no motion and no objects, as
// motion_trace reports a frame it cannot use; every other frame is given as
// it is. --frames and --output as for motion_trace.
//
// Exit status 0 on success, 1 when the frames cannot be read or are damaged,
// the output cannot be written or the processor lacks the kernel, 2 for a
// wrong command line (an unknown key or kernel, a value out of range too).
#include "detector/DetectorStages.h"
#include "tools/trace/GreyFrames.h"
#include "tools/trace/TraceLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    long long frames = -1; // all
    std::string output;    // standard output when empty
    std::string input;     // standard input when empty
    std::string kernel;    // the fastest when empty
    bool listKernels = false;
    std::vector<std::pair<const motion::Parameter*, double>> parameters;
};

int usage() {
    std::fprintf(stderr, "usage: motion_trace_raw [--frames N] [--output FILE] [--kernel NAME] [KEY=VALUE ...] [FRAMES]\n"
                         "       motion_trace_raw --kernels\n");
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "motion_trace_raw: %s\n", message.c_str());
    return 1;
}

bool parseCount(const char* text, long long& count) {
    char* end = nullptr;
    count = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && count >= 0;
}

const motion::Parameter* parameterWithKey(const std::string& key) {
    for (const motion::Parameter& parameter : motion::parameterTable)
        if (key == parameter.key) return &parameter;
    return nullptr;
}

// KEY=VALUE with a known key and a number the parameter accepts.
bool parseSetting(const std::string& arg, Options& o) {
    const size_t equals = arg.find('=');
    const motion::Parameter* parameter = parameterWithKey(arg.substr(0, equals));
    if (parameter == nullptr) return false;
    const char* text = arg.c_str() + equals + 1;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !parameter->accepts(value)) return false;
    o.parameters.emplace_back(parameter, value);
    return true;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            if (!parseCount(argv[++i], o.frames)) return false;
        } else if (arg == "--output" && i + 1 < argc) {
            o.output = argv[++i];
        } else if (arg == "--kernel" && i + 1 < argc) {
            o.kernel = argv[++i];
        } else if (arg == "--kernels" && argc == 2) {
            o.listKernels = true;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else if (arg.find('=') != std::string::npos) {
            if (!parseSetting(arg, o)) return false;
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            return false;
        }
    }
    return true;
}

bool kernelNamed(const std::string& name, motion::BackgroundKernel& kernel) {
    for (motion::BackgroundKernel built : motion::builtBackgroundKernels())
        if (name == motion::backgroundKernelName(built)) {
            kernel = built;
            return true;
        }
    return false;
}

void listKernels() {
    for (motion::BackgroundKernel kernel : motion::builtBackgroundKernels())
        if (motion::backgroundKernelRuns(kernel)) std::printf("%s\n", motion::backgroundKernelName(kernel));
}

// Motion pixels in the full-size mask of the frame just accepted.
long long motionPixels(MotionDetector& detector, const GreyFrame& frame, std::vector<uint8_t>& mask) {
    mask.resize(frame.pixels.size());
    detector.getMotionMask(mask.data());
    return std::count(mask.begin(), mask.end(), uint8_t{255});
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return usage();
    if (options.listKernels) {
        listKernels();
        return 0;
    }

    MotionDetector detector;
    for (const auto& [parameter, value] : options.parameters) detector.setParam(parameter->id, value);
    if (!options.kernel.empty()) {
        motion::BackgroundKernel kernel;
        if (!kernelNamed(options.kernel, kernel)) return usage();
        if (!stagesOf(detector).background.useKernel(kernel))
            return fail("this processor cannot run the kernel " + options.kernel);
    }

    std::FILE* in = stdin;
    if (!options.input.empty()) {
        in = std::fopen(options.input.c_str(), "rb");
        if (in == nullptr) return fail("cannot read the frames " + options.input);
    }
    std::FILE* out = stdout;
    if (!options.output.empty()) {
        out = std::fopen(options.output.c_str(), "w");
        if (out == nullptr) return fail("cannot write " + options.output);
    }

    GreyFrame frame;
    std::vector<uint8_t> mask;
    GreyFrameRead read = GreyFrameRead::end;
    for (long long index = 0; options.frames < 0 || index < options.frames; ++index) {
        read = readGreyFrame(in, frame);
        if (read != GreyFrameRead::frame) break;
        if (frame.pixels.empty()) {
            printTraceLine(out, index, false, 0, {});
            continue;
        }
        const bool accepted = detector.processFrame(frame.pixels.data(), frame.width, frame.height, nullptr);
        printTraceLine(out, index, accepted, accepted ? motionPixels(detector, frame, mask) : 0,
                       detector.getObjects());
    }
    if (read == GreyFrameRead::damaged)
        return fail("damaged frame in " + (options.input.empty() ? std::string("the standard input") : options.input));

    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout && std::fclose(out) != 0) return fail("cannot write " + options.output);
    return written ? 0 : fail("cannot write the output");
}
