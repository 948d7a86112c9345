// The blob extraction stage: groups the motion pixels of a mask into blobs.
//
// Five stages: runs of motion pixels become first-pass blobs (one row of
// labels kept), each first-pass box is grown by the growth margin, the area
// the grown boxes cover is labelled with a one-level union table, first-pass
// blobs are merged by the group of their grown box's top-left corner, and
// the merged blobs within the size limits are handed over in group order.
//
// No image of the grid is kept, and the work follows runs and boxes rather
// than pixels. The runs of the mask come ready from the background update
// (or are found here from a mask given as bytes); a row's first-pass labels
// are kept as the runs that carry one, and a run joins its blob at once
// wherever that gives the same sums as adding its pixels one by one. The
// covered area is labelled a row at a time, each row kept as its stretches
// under one label: only the row above is kept, and only the pixels where
// the row above changes label are looked at one by one; the corner labels
// are noted on the way.
//
// Both passes can follow the rows as another stage finishes them (see
// rowsReady): a first-pass blob is complete, and its grown box known, once
// a row goes by without a run joining it, and the covered area is labelled
// down to the first row that a box not yet known could reach. The results
// do not depend on how the rows come.
//
// Row 0 and column 0 are never labelled, and the covered-area labelling
// visits neither the last row nor the last column. The union deliberately
// does not follow chains of redirected labels, so some touching groups stay
// apart; that grouping is part of the detector's defined results.
#pragma once

#include "detector/blobs/Blob.h"
#include "detector/blobs/MotionRuns.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace motion {

// What extraction keeps, in scaled pixels.
struct BlobLimits {
    int32_t minWidth;
    int32_t maxWidth;
    int32_t minHeight;
    int32_t maxHeight;
    int32_t growthMargin; // boxes grown by this on every side merge when they touch
};

class BlobExtractor {
public:
    // At most this many first-pass blobs per frame; further runs start none.
    static constexpr int maxBlobs = 10000;

    BlobExtractor();

    // Work buffers for a scaledWidth x scaledHeight grid. Allocation failure
    // propagates and leaves nothing allocated.
    void resize(int scaledWidth, int scaledHeight);
    void release();

    // The blobs of the mask (255: motion) whose size lies within the limits,
    // with intensities from the scaled grey frame; both cover the grid given
    // to resize. The result stays valid until the next call.
    const std::vector<Blob>& extract(const uint8_t* mask, const uint8_t* grey, const BlobLimits& limits);
    // The same from the runs of the mask, found beforehand: grey is read
    // only when a run is cut short by the first-pass cap.
    const std::vector<Blob>& extract(const MotionRuns& runs, const uint8_t* grey, const BlobLimits& limits) {
        start(runs, grey, limits);
        return finish();
    }

    // The same in steps, so that the work can follow the rows as another
    // stage finds them: start() takes runs and grey, which must stay in place
    // until finish(); rowsReady(n) says that rows 0..n-1 of both are final,
    // and does the work they allow; finish() does the rest once every row is
    // final, and gives exactly what extract() gives. rowsReady neither
    // allocates nor throws, so it may run inside a parallel region.
    void start(const MotionRuns& runs, const uint8_t* grey, const BlobLimits& limits);
    void rowsReady(int rows);
    const std::vector<Blob>& finish();

    const std::vector<Blob>& blobs() const { return handedOver; }
    void clear() { handedOver.clear(); }

private:
    // Labels fit 16 bits: first-pass labels stay below maxBlobs, and the
    // covered area gets at most one group label per grown box (a label is
    // only created at a box's top-left corner).
    using Label = int16_t;
    static_assert(maxBlobs < INT16_MAX, "labels and their table are 16-bit");

    // Stretches of a row's columns under one label, first..last inclusive.
    struct Segment {
        int32_t first, last;
        Label label;
    };
    struct Span {
        int32_t first, last;
    };

    void labelRunsOfRow(int row);
    void labelRun(const MotionRun& run, int row, const uint8_t* greyRow, size_t& above);
    void listBox(int32_t blob);
    int coveredRowsKnown() const;
    void labelCoveredRows(int endRow);
    void labelCoveredRow(int y);
    void findActiveSpans();
    void labelLine();
    Label labelPixel(const Label (&neighbours)[4]);
    void appendStretch(int column, Label label);
    Label lineLabelAt(int x) const;
    void mergeGroups();
    void handOverBlobs();

    int32_t width = 0;
    int32_t height = 0;
    // The frame in progress, between start() and finish().
    const MotionRuns* frameRuns = nullptr;
    const uint8_t* frameGrey = nullptr;
    BlobLimits frameLimits{};
    int32_t blobCount = 0;    // first-pass blobs so far
    int32_t firstPassRow = 1; // the next row of the first pass
    int32_t coveredRow = 1;   // the next row of the covered area
    int32_t groupCount = 0;   // group labels so far
    std::unique_ptr<Blob[]> mergedBlobs;
    std::unique_ptr<Blob[]> firstPassBlobs;
    std::unique_ptr<Label[]> labelTable;
    // Per first-pass blob: its grown box, listed once the blob is complete,
    // and the group label found at the box's top-left corner.
    struct GrownBox {
        int32_t x0, x1, y0, y1;
    };
    std::unique_ptr<GrownBox[]> grownBoxes;
    std::unique_ptr<bool[]> boxListed;
    std::unique_ptr<Label[]> cornerLabels;
    // Boxes by their first row: the first box of each row, then a chain;
    // and how many boxes have their last row in each row.
    std::unique_ptr<int32_t[]> firstBoxOfRow;
    std::unique_ptr<int32_t[]> nextBoxOfRow;
    std::unique_ptr<int32_t[]> boxesEndingInRow;
    std::vector<int32_t> activeBoxes; // boxes covering the row being labelled, by first column
    std::vector<Span> activeSpans;    // the columns they cover, left to right
    // The labels of the row above and of the row being labelled: the
    // stretches that have one, left to right; for each of the two passes.
    struct TwoRows {
        std::vector<Segment> above, line;
    };
    TwoRows firstPass, covered;
    std::vector<Blob> handedOver;
    MotionRuns maskRuns; // the runs of a mask given as bytes
};

} // namespace motion
