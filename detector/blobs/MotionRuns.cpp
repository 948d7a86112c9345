#include "detector/blobs/MotionRuns.h"

#include <algorithm>
#include <cstring>

namespace motion {

namespace {

constexpr uint8_t motion = 255;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "runs are followed a word at a time, lowest byte first");

// The first column from x on whose byte is motion, or w. Most of a mask is
// background, passed over by the C library's search.
int nextMotion(const uint8_t* row, int x, int w) {
    const void* found = x < w ? std::memchr(row + x, motion, size_t(w - x)) : nullptr;
    return found ? int(static_cast<const uint8_t*>(found) - row) : w;
}

// The first column from x on whose byte is not motion, or w; eight bytes
// at a time.
int nextStill(const uint8_t* row, int x, int w) {
    for (; x + 8 <= w; x += 8) {
        uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (~word != 0) return x + __builtin_ctzll(~word) / 8;
    }
    for (; x < w; ++x)
        if (row[x] != motion) return x;
    return w;
}

} // namespace

uint32_t greySum(const uint8_t* greyRow, int first, int last) {
    uint32_t sum = 0;
    for (int x = first; x <= last; ++x) sum += greyRow[x];
    return sum;
}

void MotionRuns::resize(int height) {
    release();
    try {
        rows.reset(new RowRuns[size_t(height)]());
        byList.resize(1); // a row without runs points at the first list
    } catch (...) {
        release();
        throw;
    }
    rowCount = height;
}

void MotionRuns::release() {
    rows.reset();
    rowCount = 0;
    std::vector<ListRuns>().swap(byList);
}

void MotionRuns::clear() {
    std::fill_n(rows.get(), rowCount, RowRuns{});
    for (ListRuns& list : byList) list.runs.clear();
}

void MotionRuns::startFrame(int lists) {
    if (int(byList.size()) < lists) byList.resize(size_t(lists));
    for (ListRuns& list : byList) list.runs.clear();
}

void MotionRuns::findRow(int row, const uint8_t* maskRow, const uint8_t* greyRow, int width, int list) {
    std::vector<MotionRun>& runs = byList[size_t(list)].runs;
    const size_t offset = runs.size();
    for (int first = nextMotion(maskRow, 1, width); first < width;) {
        const int end = nextStill(maskRow, first + 1, width);
        runs.push_back({uint16_t(first), uint16_t(end - 1), greySum(greyRow, first, end - 1)});
        first = nextMotion(maskRow, end, width);
    }
    rows[row] = {uint32_t(list), uint32_t(offset), uint32_t(runs.size() - offset)};
}

} // namespace motion
