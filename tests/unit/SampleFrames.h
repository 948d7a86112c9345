// Grey frames of a real scene for the detector's tests.
#pragma once

#include <cstdint>
#include <vector>

struct SampleClip {
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> frames;
};

// `count` frames of one size, from the first of these that has them:
// - the file of grey frames (tools/trace/GreyFrames.h) that the environment
//   variable MOTION_SAMPLE_FRAMES names, for builds without OpenCV (the
//   cross-built tests get frames the host decoded, smaller ones to keep the
//   emulated run short);
// - samples/vtest.avi (768 x 576), decoded and converted to grey with
//   OpenCV where the tests are built with it;
// - a generated 768 x 576 scene of two moving shapes on a noisy background.
SampleClip loadSampleClip(int count);
