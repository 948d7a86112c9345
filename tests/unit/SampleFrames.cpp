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

// Adds a frame of the clip's size (the first frame sets it); false for
// another size.
bool add(SampleClip& clip, int width, int height, const uint8_t* pixels) {
    if (clip.frames.empty()) {
        clip.width = width;
        clip.height = height;
    } else if (width != clip.width || height != clip.height) {
        return false;
    }
    clip.frames.emplace_back(pixels, pixels + size_t(width) * height);
    return true;
}

SampleClip clipFromFile(const char* path, int count) {
    SampleClip clip;
    std::FILE* in = path ? std::fopen(path, "rb") : nullptr;
    if (in == nullptr) return clip;
    GreyFrame frame;
    while (int(clip.frames.size()) < count && readGreyFrame(in, frame) == GreyFrameRead::frame &&
           !frame.pixels.empty() && add(clip, frame.width, frame.height, frame.pixels.data())) {
    }
    std::fclose(in);
    return clip;
}

SampleClip clipFromVideo(int count) {
    SampleClip clip;
#ifdef MOTION_SAMPLES_WITH_OPENCV
    cv::VideoCapture capture(MOTION_SAMPLES_DIR "/vtest.avi");
    cv::Mat colour, grey;
    while (capture.isOpened() && int(clip.frames.size()) < count && capture.read(colour)) {
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        if (!add(clip, grey.cols, grey.rows, grey.data)) break;
    }
#else
    (void)count;
#endif
    return clip;
}

// A bright rectangle moving right and a dark disc moving left.
SampleClip generatedClip(int count) {
    constexpr int width = 768, height = 576;
    SampleClip clip;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    std::vector<uint8_t> frame(size_t(width) * height);
    for (int i = 0; i < count; ++i) {
        const int rectX = 10 + 9 * i, rectY = height / 4, discX = width - 20 - 7 * i, discY = height / 2;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int v = 90;
                if (x >= rectX && x < rectX + 60 && y >= rectY && y < rectY + 80) v = 200;
                if ((x - discX) * (x - discX) + (y - discY) * (y - discY) <= 30 * 30) v = 30;
                frame[size_t(y) * width + x] = uint8_t(std::clamp(v + noise(rng), 0, 255));
            }
        add(clip, width, height, frame.data());
    }
    return clip;
}

} // namespace

SampleClip loadSampleClip(int count) {
    SampleClip clip = clipFromFile(std::getenv("MOTION_SAMPLE_FRAMES"), count);
    if (int(clip.frames.size()) < count) clip = clipFromVideo(count);
    if (int(clip.frames.size()) < count) clip = generatedClip(count);
    return clip;
}
