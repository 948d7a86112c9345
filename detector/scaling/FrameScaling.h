// Between full frames and the scaled grid the detector works on: the frame
// size rule, the block-mean downscale and the enlargement of the motion
// mask back to full size.
#pragma once

#include <cstdint>

namespace motion {

constexpr int minFrameSide = 32;
constexpr int maxFrameSide = 8192;

// Both sides within minFrameSide..maxFrameSide and multiples of factor.
bool acceptsFrameSize(int width, int height, int factor);

// Truncating mean of each factor x factor block of a width x height frame
// into dst, (width / factor) x (height / factor) bytes.
void downscale(const uint8_t* frame, int width, int height, int factor, uint8_t* dst);

// Repeats each scaled mask pixel over its factor x factor block of the
// width x height dst. Frame pixels outside whole blocks (after a change to a
// factor that does not divide the frame) are written as background.
void enlargeMask(const uint8_t* mask, int scaledWidth, int scaledHeight, int factor, int width, int height,
                 uint8_t* dst);

} // namespace motion
