// Grey frames as a stream of binary PGM images, one after another: "P5",
// the width, the height and 255 as decimal numbers separated by white space
// (a # starts a comment up to the end of its line), one white-space byte,
// then width x height bytes, row after row. This is what
// `motion_trace --dump-frames` writes and motion_trace_raw reads, and what
// `ffmpeg -f image2pipe -c:v pgm` writes. A frame of 0 x 0 stands for one
// that the video source delivered but that could not be used.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

struct GreyFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Neither side of a frame may exceed this, so that a damaged header cannot
// ask for gigabytes.
constexpr int greyFrameMaxSide = 16384;

enum class GreyFrameRead { frame, end, damaged };

// Reads the next frame: end when the stream ends before it starts; damaged
// when it is cut short or not a PGM image of 8-bit grey values.
GreyFrameRead readGreyFrame(std::FILE* in, GreyFrame& frame);

// Returns false when the stream reports an error.
bool writeGreyFrame(std::FILE* out, const uint8_t* pixels, int width, int height);
