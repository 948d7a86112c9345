// Times MotionDetector::processFrame against OpenCV's MOG2 background
// subtractor on the same decoded frames.
//
//   motion_benchmark [--video PATH] [--frames N] [--repeats N]
//
// The video is decoded once into memory (grey); the 1920x1080 frames are
// resized from it once, before any timing. Every repeat runs every row once,
// so the rows are interleaved and share whatever load the machine has; each
// row reports the minimum and the median over the repeats of its mean time
// per frame. The first frame of every run is not timed: it only allocates.
// Ratios compare our rows with MOG2 at the same size and thread count.
#include "detector/MotionDetector.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/background_segm.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Frames = std::vector<cv::Mat>;

struct Options {
    std::string video = "samples/vtest.avi";
    int frames = 60;
    int repeats = 5;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--video") o.video = argv[i + 1];
        else if (key == "--frames") o.frames = std::atoi(argv[i + 1]);
        else if (key == "--repeats") o.repeats = std::atoi(argv[i + 1]);
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

// A run processes all frames with a fresh subject and returns the mean
// milliseconds per frame over frames 1..N-1.
using Run = std::function<double(const Frames&)>;

template <typename Step>
double timeFrames(const Frames& frames, Step step) {
    step(frames[0]);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 1; i < frames.size(); ++i) step(frames[i]);
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / double(frames.size() - 1);
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
        const double ms = timeFrames(frames, [&](const cv::Mat& f) {
            subtractor->apply(f, foreground);
            if (components) cv::connectedComponentsWithStats(foreground, labels, stats, centroids);
        });
        cv::setNumThreads(-1);
        return ms;
    };
}

struct Row {
    std::string name;
    const Frames* frames;
    Run run;
    int reference; // index of the MOG2 row to compare with, or -1
    std::vector<double> times;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
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
    const Frames hd = resized(sd, cv::Size(1920, 1080));

    std::vector<Row> rows;
    auto add = [&](const char* subject, const Frames& frames, int scale, int threads, Run run, int reference) {
        char name[96];
        std::snprintf(name, sizeof name, "%-16s %4dx%-4d %5s %7d", subject, frames[0].cols, frames[0].rows,
                      scale > 0 ? std::to_string(scale).c_str() : "-", threads);
        rows.push_back({name, &frames, std::move(run), reference, {}});
        return int(rows.size()) - 1;
    };
    const int mogSd[3] = {-1, add("MOG2", sd, 0, 1, mog2(1, false), -1), add("MOG2", sd, 0, 2, mog2(2, false), -1)};
    add("MOG2+components", sd, 0, 1, mog2(1, true), -1);
    add("MOG2+components", sd, 0, 2, mog2(2, true), -1);
    for (int scale : {1, 2, 4})
        for (int threads : {1, 2}) add("ours", sd, scale, threads, ours(scale, threads), mogSd[threads]);
    const int mogHd = add("MOG2", hd, 0, 1, mog2(1, false), -1);
    add("ours", hd, 1, 1, ours(1, 1), mogHd);

    std::printf("%zu frames of %s, %d repeats, rows interleaved\n", sd.size(), o.video.c_str(), o.repeats);
    for (int r = 0; r < o.repeats; ++r)
        for (Row& row : rows) row.times.push_back(row.run(*row.frames));

    std::printf("%-16s %9s %5s %7s %8s %8s %10s %10s\n", "ms per frame", "size", "scale", "threads", "min", "median",
                "ratio min", "ratio med");
    for (const Row& row : rows) {
        const double lo = *std::min_element(row.times.begin(), row.times.end());
        const double mid = median(row.times);
        std::printf("%s %8.2f %8.2f", row.name.c_str(), lo, mid);
        if (row.reference >= 0) {
            const Row& ref = rows[row.reference];
            std::printf(" %10.2f %10.2f", lo / *std::min_element(ref.times.begin(), ref.times.end()),
                        mid / median(ref.times));
        }
        std::printf("\n");
    }
    std::printf("ratio: ours / MOG2 alone at the same size and thread count (below 1: ours is faster)\n");
    return 0;
}
