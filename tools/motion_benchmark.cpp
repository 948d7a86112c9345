// Times MotionDetector::processFrame against OpenCV's MOG2 background
// subtractor on the same decoded frames.
//
//   motion_benchmark [--video PATH] [--frames N] [--repeats N]
//
// The video is decoded once into memory (grey); the 1920x1080 frames are
// resized from it once, before any timing. Every repeat runs every row once,
// so the rows are interleaved and share whatever load the machine has; each
// row reports the minimum and the median over the repeats of its mean time
// per frame. The first frame of every run is timed apart: it allocates.
// Ratios compare our rows with MOG2 at the same size and thread count.
//
// Resident memory is measured in a fresh process per subject (this program
// started again with --resident), so that memory freed by earlier runs
// cannot be reused unseen: the growth of VmRSS over constructing the
// subject and running it over all frames.
//
// The program runs with the demo's OpenMP setting (it restarts itself once
// as the demo does), so that the two-thread rows show what the demo gets.
#include "io/ThreadSpinning.h"
#include "detector/MotionDetector.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/background_segm.hpp>
#include <opencv2/videoio.hpp>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Frames = std::vector<cv::Mat>;

const cv::Size hdSize(1920, 1080);

struct Options {
    std::string video = "samples/vtest.avi";
    int frames = 60;
    int repeats = 5;
    std::string resident;   // internal: "ours" or "mog2", measured in this process
    cv::Size residentSize;  // of the frames measured; empty: the video's own
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--video") o.video = argv[i + 1];
        else if (key == "--frames") o.frames = std::atoi(argv[i + 1]);
        else if (key == "--repeats") o.repeats = std::atoi(argv[i + 1]);
        else if (key == "--resident") o.resident = argv[i + 1];
        else if (key == "--resident-size") std::sscanf(argv[i + 1], "%dx%d", &o.residentSize.width, &o.residentSize.height);
        else return false;
    }
    return argc % 2 == 1 && o.frames >= 2 && o.repeats >= 1;
}

Frames decodeGrey(const std::string& path, int count) {
    Frames frames;
    cv::VideoCapture capture(path);
    cv::Mat colour;
    while (int(frames.size()) < count && capture.read(colour)) {
        cv::Mat grey;
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        frames.push_back(grey);
    }
    return frames;
}

Frames resized(const Frames& frames, cv::Size size) {
    Frames out;
    for (const cv::Mat& f : frames) {
        cv::Mat r;
        cv::resize(f, r, size, 0, 0, cv::INTER_LINEAR);
        out.push_back(r);
    }
    return out;
}

// Milliseconds of the first frame (construction excluded, allocation
// included) and the mean per frame over frames 1..N-1.
struct Timing {
    double first;
    double steady;
};

// A run processes all frames with a fresh subject.
using Run = std::function<Timing(const Frames&)>;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Step>
Timing timeFrames(const Frames& frames, Step step) {
    const auto first = Clock::now();
    step(frames[0]);
    const double firstMs = msSince(first);
    const auto start = Clock::now();
    for (size_t i = 1; i < frames.size(); ++i) step(frames[i]);
    return {firstMs, msSince(start) / double(frames.size() - 1)};
}

Run ours(int scale, int threads) {
    return [=](const Frames& frames) {
        MotionDetector detector;
        detector.setParam(SCALE_FACTOR, scale);
        detector.setParam(NUM_THREADS, threads);
        return timeFrames(frames, [&](const cv::Mat& f) { detector.processFrame(f.data, f.cols, f.rows, nullptr); });
    };
}

Run mog2(int threads, bool components) {
    return [=](const Frames& frames) {
        cv::setNumThreads(threads);
        cv::Ptr<cv::BackgroundSubtractorMOG2> subtractor = cv::createBackgroundSubtractorMOG2(500, 16, false);
        cv::Mat foreground, labels, stats, centroids;
        const Timing t = timeFrames(frames, [&](const cv::Mat& f) {
            subtractor->apply(f, foreground);
            if (components) cv::connectedComponentsWithStats(foreground, labels, stats, centroids);
        });
        cv::setNumThreads(-1);
        return t;
    };
}

struct Row {
    std::string name;
    const Frames* frames;
    Run run;
    int reference; // index of the MOG2 row to compare with, or -1
    int oneThread; // index of the same subject's one-thread row, or -1
    std::vector<double> times, firsts;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atof(line.c_str() + 6) * 1024;
    return 0;
}

// The --resident process: prints the growth of resident memory, in bytes,
// over constructing the subject (scale 1, one thread) and feeding it all
// frames, read while the subject is still alive.
int measureResident(const Options& o, const Frames& decoded) {
    const Frames frames = o.residentSize.empty() ? decoded : resized(decoded, o.residentSize);
    malloc_trim(0); // what decoding freed goes back, so that reusing it counts as growth
    const double before = residentBytes();
    double after = before;
    if (o.resident == "ours") {
        MotionDetector detector;
        for (const cv::Mat& f : frames) detector.processFrame(f.data, f.cols, f.rows, nullptr);
        after = residentBytes();
    } else {
        cv::setNumThreads(1);
        cv::Ptr<cv::BackgroundSubtractorMOG2> subtractor = cv::createBackgroundSubtractorMOG2(500, 16, false);
        cv::Mat foreground;
        for (const cv::Mat& f : frames) subtractor->apply(f, foreground);
        after = residentBytes();
    }
    std::printf("%.0f\n", after - before);
    return 0;
}

// Runs this program again with --resident and returns its answer in MB, or
// -1 when it fails.
double residentMB(const Options& o, const char* subject, cv::Size size) {
    const std::string frames = std::to_string(o.frames);
    const std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
    const char* args[] = {"/proc/self/exe", "--video", o.video.c_str(), "--frames", frames.c_str(), "--resident",
                          subject, "--resident-size", sizeText.c_str(), nullptr};
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execv(args[0], const_cast<char**>(args));
        _exit(127);
    }
    close(out[1]);
    char answer[64] = {};
    const ssize_t got = child > 0 ? read(out[0], answer, sizeof answer - 1) : -1;
    close(out[0]);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::atof(answer) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    restartWithShortSpinning(argv);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: motion_benchmark [--video PATH] [--frames N>=2] [--repeats N>=1]\n");
        return 2;
    }
    const Frames sd = decodeGrey(o.video, o.frames);
    if (sd.size() < 2) {
        std::fprintf(stderr, "cannot decode two frames of %s\n", o.video.c_str());
        return 1;
    }
    if (!o.resident.empty()) return measureResident(o, sd);

    // Each process measured alone, before this one runs anything in threads.
    const double residentSd[2] = {residentMB(o, "mog2", sd[0].size()), residentMB(o, "ours", sd[0].size())};
    const double residentHd[2] = {residentMB(o, "mog2", hdSize), residentMB(o, "ours", hdSize)};
    const Frames hd = resized(sd, hdSize);

    std::vector<Row> rows;
    auto add = [&](const char* subject, const Frames& frames, int scale, int threads, Run run, int reference) {
        char name[96];
        std::snprintf(name, sizeof name, "%-16s %4dx%-4d %5s %7d", subject, frames[0].cols, frames[0].rows,
                      scale > 0 ? std::to_string(scale).c_str() : "-", threads);
        // The row just before is the same subject with one thread.
        const int oneThread = threads == 2 ? int(rows.size()) - 1 : -1;
        rows.push_back({name, &frames, std::move(run), reference, oneThread, {}, {}});
        return int(rows.size()) - 1;
    };
    int mog[3];
    mog[1] = add("MOG2", sd, 0, 1, mog2(1, false), -1);
    mog[2] = add("MOG2", sd, 0, 2, mog2(2, false), -1);
    add("MOG2+components", sd, 0, 1, mog2(1, true), -1);
    add("MOG2+components", sd, 0, 2, mog2(2, true), -1);
    for (int scale : {1, 2, 4})
        for (int threads : {1, 2}) add("ours", sd, scale, threads, ours(scale, threads), mog[threads]);
    mog[1] = add("MOG2", hd, 0, 1, mog2(1, false), -1);
    mog[2] = add("MOG2", hd, 0, 2, mog2(2, false), -1);
    for (int threads : {1, 2}) add("ours", hd, 1, threads, ours(1, threads), mog[threads]);

    std::printf("%zu frames of %s, %d repeats, rows interleaved\n", sd.size(), o.video.c_str(), o.repeats);
    for (int r = 0; r < o.repeats; ++r)
        for (Row& row : rows) {
            const Timing t = row.run(*row.frames);
            row.times.push_back(t.steady);
            row.firsts.push_back(t.first);
        }

    std::printf("%-16s %9s %5s %7s %8s %8s %10s %10s %8s %8s %8s\n", "ms per frame", "size", "scale", "threads",
                "min", "median", "ratio min", "ratio med", "2 thr x", "first", "ratio");
    for (const Row& row : rows) {
        const double lo = *std::min_element(row.times.begin(), row.times.end());
        const double mid = median(row.times);
        std::printf("%s %8.2f %8.2f", row.name.c_str(), lo, mid);
        if (row.reference >= 0) {
            const Row& ref = rows[row.reference];
            std::printf(" %10.2f %10.2f", lo / *std::min_element(ref.times.begin(), ref.times.end()),
                        mid / median(ref.times));
        } else {
            std::printf(" %10s %10s", "", "");
        }
        if (row.oneThread >= 0)
            std::printf(" %8.2f", median(rows[row.oneThread].times) / mid);
        else
            std::printf(" %8s", "");
        std::printf(" %8.1f", median(row.firsts));
        if (row.reference >= 0) std::printf(" %8.2f", median(row.firsts) / median(rows[row.reference].firsts));
        std::printf("\n");
    }
    std::printf("ratio: ours / MOG2 alone at the same size and thread count (below 1: ours is faster)\n");
    std::printf("2 thr x: speed-up of two threads over one (one-thread median / two-thread median)\n");
    std::printf("first: median ms of the first frame of a run (allocation included), and its ratio\n");
    std::printf("\nresident memory per subject, MB (scale 1, growth of VmRSS over one run)\n");
    std::printf("%-10s %10s %10s %8s\n", "size", "MOG2", "ours", "ratio");
    const struct {
        const Frames* frames;
        const double* mb;
    } sizes[] = {{&sd, residentSd}, {&hd, residentHd}};
    for (const auto& size : sizes) {
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", (*size.frames)[0].cols, (*size.frames)[0].rows);
        std::printf("%-10s %10.1f %10.1f %8.2f\n", name, size.mb[0], size.mb[1], size.mb[1] / size.mb[0]);
    }
    return 0;
}
