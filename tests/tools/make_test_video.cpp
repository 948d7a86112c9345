// Writes a small synthetic Motion-JPEG AVI for tests: a flat grey background,
// optional deterministic noise, and optionally one bright square that moves
// steadily from left to right (wrapping around). With a schedule the square
// is there only in the listed frame ranges (FIRST-END, END excluded), so
// that tests know when motion starts and stops.
//
//   make_test_video OUTPUT [--frames N] [--size WxH] [--fps F]
//                          [--square SIDE] [--speed PIXELS_PER_FRAME] [--noise AMPLITUDE]
//                          [--schedule FIRST-END[,FIRST-END...]]
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    std::string output;
    int frames = 60;
    int width = 320;
    int height = 240;
    double fps = 25.0;
    int square = 24;
    int speed = 3;
    int noise = 0;
    std::vector<std::pair<int, int>> schedule; // empty: the square is always there
};

bool parseSchedule(const char* text, std::vector<std::pair<int, int>>& schedule) {
    int first = 0;
    int end = 0;
    int used = 0;
    while (std::sscanf(text, "%d-%d%n", &first, &end, &used) == 2 && first < end) {
        schedule.emplace_back(first, end);
        text += used;
        if (*text == '\0') return true;
        if (*text++ != ',') return false;
    }
    return false;
}

bool squareShown(const Options& o, int frame) {
    if (o.schedule.empty()) return true;
    for (const auto& [first, end] : o.schedule)
        if (frame >= first && frame < end) return true;
    return false;
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.output = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--frames") o.frames = std::atoi(value);
        else if (key == "--size") { if (std::sscanf(value, "%dx%d", &o.width, &o.height) != 2) return false; }
        else if (key == "--fps") o.fps = std::atof(value);
        else if (key == "--square") o.square = std::atoi(value);
        else if (key == "--speed") o.speed = std::atoi(value);
        else if (key == "--noise") o.noise = std::atoi(value);
        else if (key == "--schedule") { if (!parseSchedule(value, o.schedule)) return false; }
        else return false;
    }
    return o.frames > 0 && o.width > 0 && o.height > 0 && o.fps > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: make_test_video OUTPUT [--frames N] [--size WxH] [--fps F] "
                             "[--square SIDE] [--speed PX] [--noise AMPLITUDE] [--schedule FIRST-END,...]\n");
        return 2;
    }
    cv::VideoWriter writer(o.output, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), o.fps, cv::Size(o.width, o.height), true);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", o.output.c_str());
        return 1;
    }
    cv::RNG rng(12345);
    cv::Mat frame(o.height, o.width, CV_8UC3);
    const int top = (o.height - o.square) / 2;
    for (int i = 0; i < o.frames; ++i) {
        frame.setTo(cv::Scalar(70, 80, 90));
        if (o.noise > 0) {
            cv::Mat noise(frame.size(), CV_8SC3);
            rng.fill(noise, cv::RNG::UNIFORM, -o.noise, o.noise + 1);
            cv::add(frame, noise, frame, cv::noArray(), CV_8UC3);
        }
        if (o.square > 0 && squareShown(o, i)) {
            const int left = (8 + i * o.speed) % std::max(1, o.width - o.square);
            cv::rectangle(frame, cv::Rect(left, top, o.square, o.square), cv::Scalar(230, 230, 230), cv::FILLED);
        }
        writer << frame;
    }
    return 0;
}
