// The blob extraction stage: groups the motion pixels of a mask into blobs.
//
// Five stages: runs of motion pixels become first-pass blobs (one row of
// labels kept), each first-pass box grown by the growth margin is written as
// one run-length cell per row, the covered area is labelled with a one-level
// union table, first-pass blobs are merged by the group of their grown box's
// top-left corner, and the merged blobs within the size limits are handed
// over in group order.
//
// Row 0 and column 0 are never labelled, and the covered-area labelling
// visits neither the last row nor the last column. The union deliberately
// does not follow chains of redirected labels, so some touching groups stay
// apart; that grouping is part of the detector's defined results.
#pragma once

#include "detector/blobs/Blob.h"

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

    const std::vector<Blob>& blobs() const { return handedOver; }
    void clear() { handedOver.clear(); }

private:
    void labelRuns(const uint8_t* mask, const uint8_t* grey);
    void markGrownBoxes(int growthMargin);
    int labelCoveredArea(); // returns the number of group labels
    void mergeGroups(int growthMargin, int groupCount);
    void handOverBlobs(const BlobLimits& limits);

    int32_t width = 0;
    int32_t height = 0;
    int32_t blobCount = 0; // first-pass blobs of the current frame
    std::unique_ptr<Blob[]> mergedBlobs;
    std::unique_ptr<Blob[]> firstPassBlobs;
    std::unique_ptr<int32_t[]> labelTable;
    std::unique_ptr<int32_t[]> rowLabels;
    std::unique_ptr<int32_t[]> grownRuns;
    std::unique_ptr<int32_t[]> labelImage;
    std::vector<Blob> handedOver;
};

} // namespace motion
