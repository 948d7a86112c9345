// 32-bit integer arithmetic without undefined behaviour.
//
// Grey-value sums of very large blobs and the scaled counts of the object
// report can leave the int range; they wrap modulo 2^32 as the hardware
// would. Box coordinates and direction counts saturate instead, so that a
// track coasting on an absurd velocity stays at the edge of the range.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace motion {

inline int32_t wrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t wrappingMultiply(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

inline int32_t saturateToInt32(int64_t value) {
    constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int64_t highest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(value, lowest, highest));
}

} // namespace motion
