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

    // Forgets the runs found so far and makes this many lists: rows are
    // found into a list by one thread at a time, while other threads fill
    // other lists. A list stays where it is once its rows are found, so
    // that another thread may read them while other lists still fill.
    // Every row is to be found or cleared again afterwards.
    void startFrame(int lists);
    // Finds the runs of one row in columns 1 to width-1 (column 0 is never
    // part of a blob) and keeps them in the given list.
    void findRow(int row, const uint8_t* maskRow, const uint8_t* greyRow, int width, int list);
    void clearRow(int row) { rows[row] = RowRuns{}; }

    // The runs of a row, left to right.
    const MotionRun* begin(int row) const { return byList[rows[row].list].runs.data() + rows[row].offset; }
    const MotionRun* end(int row) const { return begin(row) + rows[row].count; }

private:
    // Where a row's runs are: in which list, from where, how many.
    struct RowRuns {
        uint32_t list;
        uint32_t offset;
        uint32_t count;
    };
    std::unique_ptr<RowRuns[]> rows;
    int rowCount = 0;
    // Each list's runs, in the order its rows were found; a list keeps its
    // room from frame to frame. Each list on a cache line of its own, so
    // that threads adding runs at the same time do not contend for it.
    struct alignas(64) ListRuns {
        std::vector<MotionRun> runs;
    };
    std::vector<ListRuns> byList;
};

} // namespace motion
