// The runs of motion of each row of a mask: stretches of motion pixels
// (255) with the sum of their grey values.
//
// Whoever writes the mask finds a row's runs right after writing it, while
// the row and its grey values are still in the cache, and on the threads
// that wrote it; blob extraction then walks runs instead of reading bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace motion {

struct MotionRun {
    uint16_t first; // columns, inclusive
    uint16_t last;
    uint32_t greySum; // at most 8192 * 255
};

// The sum of the grey values of columns first..last of a row.
uint32_t greySum(const uint8_t* greyRow, int first, int last);

class MotionRuns {
public:
    // Room for a grid of the given height, every row without runs.
    // Allocation failure propagates and leaves nothing allocated.
    void resize(int height);
    void release();
    // Every row without runs.
    void clear();

    // Forgets the runs found so far and takes up to this many writers: each
    // finds rows on a thread of its own, at the same time as the others.
    // Every row is to be found or cleared again afterwards.
    void startFrame(int writers);
    // Finds the runs of one row in columns 1 to width-1 (column 0 is never
    // part of a blob) and keeps them with the writer's.
    void findRow(int row, const uint8_t* maskRow, const uint8_t* greyRow, int width, int writer);
    void clearRow(int row) { rows[row] = RowRuns{}; }

    // The runs of a row, left to right.
    const MotionRun* begin(int row) const { return byWriter[rows[row].writer].runs.data() + rows[row].offset; }
    const MotionRun* end(int row) const { return begin(row) + rows[row].count; }

private:
    // Where a row's runs are: in which writer's list, from where, how many.
    struct RowRuns {
        uint32_t writer;
        uint32_t offset;
        uint32_t count;
    };
    std::unique_ptr<RowRuns[]> rows;
    int rowCount = 0;
    // Each writer's runs, in the order it found its rows; a list keeps its
    // room from frame to frame. Each list on a cache line of its own, so
    // that writers adding runs at the same time do not contend for it.
    struct alignas(64) WriterRuns {
        std::vector<MotionRun> runs;
    };
    std::vector<WriterRuns> byWriter;
};

} // namespace motion
