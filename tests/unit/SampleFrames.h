// Grey frames of a real scene for the detector's tests.
#pragma once

#include <cstdint>
#include <vector>

using GreyFrames = std::vector<std::vector<uint8_t>>;

// `count` frames of width x height, from the first of these that has them:
// - the file of grey frames (tools/trace/GreyFrames.h) that the environment
//   variable MOTION_SAMPLE_FRAMES names, for builds without OpenCV (the
//   cross-built tests get the frames the host decoded);
// - samples/vtest.avi (768 x 576), decoded and converted to grey with
//   OpenCV where the tests are built with it;
// - a generated scene of two moving shapes on a noisy background.
GreyFrames loadSampleFrames(int width, int height, int count);
