// How one picture's grey levels turn into another's when only the light
// changed: a lamp, a cloud or a camera's exposure moves every level of the
// scene along one rising curve, however bright or dark each part of it is.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace motion {

class ToneCurve {
public:
    // Collects one pixel: its level before (the background's, 0..255) and
    // after (the new frame's).
    void add(float before, uint8_t after);

    // Fits the curve to the pixels collected: for each level before, the
    // median level after, made non-decreasing; levels nobody had are
    // interpolated, and beyond the first and last ones the curve keeps their
    // offset. Returns false when no pixel was collected.
    bool fit();

    // The level after for a level before, between the fitted levels on a
    // straight line, within 0..255.
    float map(float before) const;

private:
    static constexpr int levels = 256;

    // For each level before, how many pixels had each level after.
    std::vector<std::array<uint32_t, levels>> counts = std::vector<std::array<uint32_t, levels>>(levels);
    std::array<float, levels> after{}; // at each level before's centre, once fitted
};

} // namespace motion
