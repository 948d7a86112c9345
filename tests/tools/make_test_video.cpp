// Writes a small synthetic Motion-JPEG AVI for tests: a flat grey background,
// optional deterministic noise, and optionally one bright square that moves
// steadily from left to right (wrapping around).
//
//   make_test_video OUTPUT [--frames N] [--size WxH] [--fps F]
//                          [--square SIDE] [--speed PIXELS_PER_FRAME] [--noise AMPLITUDE]
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
};

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
        else return false;
    }
    return o.frames > 0 && o.width > 0 && o.height > 0 && o.fps > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: make_test_video OUTPUT [--frames N] [--size WxH] [--fps F] "
                             "[--square SIDE] [--speed PX] [--noise AMPLITUDE]\n");
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
        if (o.square > 0) {
            const int left = (8 + i * o.speed) % std::max(1, o.width - o.square);
            cv::rectangle(frame, cv::Rect(left, top, o.square, o.square), cv::Scalar(230, 230, 230), cv::FILLED);
        }
        writer << frame;
    }
    return 0;
}
