#include "detector/blobs/MotionRuns.h"

#include <algorithm>
#include <cstring>

namespace motion {

namespace {

constexpr uint8_t motion = 255;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the mask is scanned a word at a time, lowest byte first");

constexpr uint64_t lowBits = 0x0101010101010101u;
constexpr uint64_t highBits = 0x8080808080808080u;

uint64_t loadWord(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The first column from x on (w when none) whose byte is motion, or, with
// wantMotion false, whose byte is not. Most of a mask is long stretches of
// one or the other, so they are passed thirty-two bytes at a time, then
// eight.
int findColumn(const uint8_t* row, int x, int w, bool wantMotion) {
    const uint64_t skipped = wantMotion ? 0 : ~uint64_t{0};
    for (; x + 32 <= w; x += 32) {
        const uint64_t words[4] = {loadWord(row + x), loadWord(row + x + 8), loadWord(row + x + 16),
                                   loadWord(row + x + 24)};
        if (((words[0] ^ skipped) | (words[1] ^ skipped) | (words[2] ^ skipped) | (words[3] ^ skipped)) != 0) break;
    }
    for (; x + 8 <= w; x += 8) {
        const uint64_t word = loadWord(row + x);
        // A byte of 255 is a zero byte of ~word; the lowest one found this
        // way is exact (only bytes above a zero byte can be flagged falsely).
        const uint64_t found = wantMotion ? (~word - lowBits) & word & highBits : ~word;
        if (found != 0) return x + __builtin_ctzll(found) / 8;
    }
    for (; x < w; ++x)
        if ((row[x] == motion) == wantMotion) return x;
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
        byWriter.resize(1); // a row without runs points at the first list
    } catch (...) {
        release();
        throw;
    }
    rowCount = height;
}

void MotionRuns::release() {
    rows.reset();
    rowCount = 0;
    std::vector<WriterRuns>().swap(byWriter);
}

void MotionRuns::clear() {
    std::fill_n(rows.get(), rowCount, RowRuns{});
    for (WriterRuns& writer : byWriter) writer.runs.clear();
}

void MotionRuns::startFrame(int writers) {
    if (int(byWriter.size()) < writers) byWriter.resize(size_t(writers));
    for (WriterRuns& writer : byWriter) writer.runs.clear();
}

bool MotionRuns::findRow(int row, const uint8_t* maskRow, const uint8_t* greyRow, int width, int writer) {
    std::vector<MotionRun>& runs = byWriter[size_t(writer)].runs;
    const size_t offset = runs.size();
    for (int first = findColumn(maskRow, 1, width, true); first < width;) {
        const int end = findColumn(maskRow, first + 1, width, false);
        runs.push_back({uint16_t(first), uint16_t(end - 1), greySum(greyRow, first, end - 1)});
        first = findColumn(maskRow, end, width, true);
    }
    rows[row] = {uint32_t(writer), uint32_t(offset), uint32_t(runs.size() - offset)};
    return runs.size() > offset;
}

} // namespace motion
