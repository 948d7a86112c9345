#include "SampleFrames.h"

#include "tools/trace/GreyFrames.h"

#ifdef MOTION_SAMPLES_WITH_OPENCV
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

GreyFrames framesFromFile(const char* path, int width, int height, int count) {
    GreyFrames frames;
    std::FILE* in = path ? std::fopen(path, "rb") : nullptr;
    if (in == nullptr) return frames;
    GreyFrame frame;
    while (int(frames.size()) < count && readGreyFrame(in, frame) == GreyFrameRead::frame &&
           frame.width == width && frame.height == height)
        frames.push_back(frame.pixels);
    std::fclose(in);
    return frames;
}

GreyFrames framesFromClip(int width, int height, int count) {
    GreyFrames frames;
#ifdef MOTION_SAMPLES_WITH_OPENCV
    cv::VideoCapture capture(MOTION_SAMPLES_DIR "/vtest.avi");
    cv::Mat colour, grey;
    while (capture.isOpened() && int(frames.size()) < count && capture.read(colour)) {
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        if (grey.cols != width || grey.rows != height) break;
        frames.emplace_back(grey.data, grey.data + grey.total());
    }
#else
    (void)width, (void)height, (void)count;
#endif
    return frames;
}

// A bright rectangle moving right and a dark disc moving left.
GreyFrames generatedFrames(int width, int height, int count) {
    GreyFrames frames;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> frame(size_t(width) * height);
        const int rectX = 10 + 9 * i, rectY = height / 4, discX = width - 20 - 7 * i, discY = height / 2;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int v = 90;
                if (x >= rectX && x < rectX + 60 && y >= rectY && y < rectY + 80) v = 200;
                if ((x - discX) * (x - discX) + (y - discY) * (y - discY) <= 30 * 30) v = 30;
                frame[size_t(y) * width + x] = uint8_t(std::clamp(v + noise(rng), 0, 255));
            }
        frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace

GreyFrames loadSampleFrames(int width, int height, int count) {
    GreyFrames frames = framesFromFile(std::getenv("MOTION_SAMPLE_FRAMES"), width, height, count);
    if (int(frames.size()) < count) frames = framesFromClip(width, height, count);
    if (int(frames.size()) < count) frames = generatedFrames(width, height, count);
    return frames;
}
