#include "detector/background/ToneCurve.h"

#include <algorithm>
#include <cmath>

namespace motion {

namespace {

// Models written from outside may hold any float; NaN counts as black.
int levelOf(float value) {
    return value > 0.0f ? (value < 255.0f ? static_cast<int>(value) : 255) : 0;
}

} // namespace

void ToneCurve::add(float before, uint8_t after) {
    ++counts[size_t(levelOf(before))][after];
}

// The median rather than the mean: whatever moves in the frame lands far off
// the curve and must not bend it.
bool ToneCurve::fit() {
    std::vector<int> fitted;
    for (int level = 0; level < levels; ++level) {
        const std::array<uint32_t, levels>& row = counts[size_t(level)];
        uint64_t total = 0;
        for (uint32_t count : row) total += count;
        if (total == 0) continue;
        uint64_t seen = 0;
        int median = 0;
        while ((seen += row[size_t(median)]) * 2 < total) ++median;
        after[size_t(level)] = float(median);
        fitted.push_back(level);
    }
    if (fitted.empty()) return false;
    for (int level = 0; level < fitted.front(); ++level)
        after[size_t(level)] = after[size_t(fitted.front())] + float(level - fitted.front());
    for (size_t i = 1; i < fitted.size(); ++i) {
        const int from = fitted[i - 1], to = fitted[i];
        for (int level = from + 1; level < to; ++level)
            after[size_t(level)] = after[size_t(from)] +
                                   (after[size_t(to)] - after[size_t(from)]) * float(level - from) / float(to - from);
    }
    for (int level = fitted.back() + 1; level < levels; ++level)
        after[size_t(level)] = after[size_t(fitted.back())] + float(level - fitted.back());
    for (int level = 1; level < levels; ++level)
        after[size_t(level)] = std::max(after[size_t(level)], after[size_t(level - 1)]);
    return true;
}

// The fitted values sit at the centres of the levels (level + 0.5).
float ToneCurve::map(float before) const {
    const float position = before - 0.5f;
    float value;
    if (!(position > 0.0f))
        value = after[0] + (position < 0.0f ? position : 0.0f); // NaN: as level 0
    else if (position >= float(levels - 1))
        value = after[levels - 1] + (position - float(levels - 1));
    else {
        const int below = static_cast<int>(position);
        const float t = position - float(below);
        value = after[size_t(below)] + (after[size_t(below + 1)] - after[size_t(below)]) * t;
    }
    return std::clamp(value, 0.0f, 255.0f);
}

} // namespace motion
