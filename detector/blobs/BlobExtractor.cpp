#include "detector/blobs/BlobExtractor.h"

#include "detector/tracking/IntArithmetic.h"

#include <algorithm>
#include <cstring>

namespace motion {

namespace {

constexpr int16_t noLabel = -1;
constexpr uint8_t motion = 255;

// Whether count bytes from p are all zero, read as whole words.
template <int count>
bool allZero(const void* p) {
    uint64_t words[count / 8];
    std::memcpy(words, p, sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    return any == 0;
}

void addPixel(Blob& blob, int column, int row, uint8_t grey) {
    ++blob.pixelCount;
    blob.intensitySum = wrappingAdd(blob.intensitySum, grey);
    blob.centroidX = blob.centroidX + static_cast<float>(column);
    blob.centroidY = blob.centroidY + static_cast<float>(row);
}

Blob startBlob(int column, int row, uint8_t grey) {
    Blob blob{};
    blob.x0 = blob.x1 = column;
    blob.y0 = blob.y1 = row;
    blob.pixelCount = 1;
    blob.intensitySum = grey;
    blob.centroidX = static_cast<float>(column);
    blob.centroidY = static_cast<float>(row);
    return blob;
}

// Adds blob's pixels and box to target; centroids are still sums here.
void mergeInto(Blob& target, const Blob& blob) {
    target.x0 = std::min(target.x0, blob.x0);
    target.y0 = std::min(target.y0, blob.y0);
    target.x1 = std::max(target.x1, blob.x1);
    target.y1 = std::max(target.y1, blob.y1);
    target.pixelCount += blob.pixelCount;
    target.intensitySum = wrappingAdd(target.intensitySum, blob.intensitySum);
    target.centroidX = target.centroidX + blob.centroidX;
    target.centroidY = target.centroidY + blob.centroidY;
}

// Allocates count elements; the count is 64-bit so that an impossible size
// fails in the allocator instead of wrapping to a small buffer.
template <typename T>
std::unique_ptr<T[]> allocate(int64_t count) {
    return std::unique_ptr<T[]>(new T[static_cast<size_t>(count)]());
}

} // namespace

// The per-blob arrays are written before they are read, for as many blobs
// as a frame has; left uninitialised, their pages stay untouched (and take
// no memory) beyond the most blobs any frame had.
BlobExtractor::BlobExtractor()
    : mergedBlobs(new Blob[maxBlobs]), firstPassBlobs(new Blob[maxBlobs]), labelTable(new Label[maxBlobs]),
      grownBoxes(new GrownBox[maxBlobs]), cornerLabels(new Label[maxBlobs]), nextBoxOfRow(new int32_t[maxBlobs]) {}

void BlobExtractor::resize(int scaledWidth, int scaledHeight) {
    release();
    try {
        rowLabels = allocate<Label>(scaledWidth);
        rowRuns = allocate<int16_t>(scaledWidth);
        firstBoxOfRow = allocate<int32_t>(scaledHeight);
        // Between frames both rows hold no label, so that row 0 and the
        // border columns read as unlabelled.
        for (auto& covered : coveredRows) {
            covered = allocate<Label>(scaledWidth);
            std::fill_n(covered.get(), scaledWidth, noLabel);
        }
    } catch (...) {
        release();
        throw;
    }
    width = scaledWidth;
    height = scaledHeight;
}

void BlobExtractor::release() {
    rowLabels.reset();
    rowRuns.reset();
    firstBoxOfRow.reset();
    for (auto& covered : coveredRows) covered.reset();
    width = height = 0;
}

const std::vector<Blob>& BlobExtractor::extract(const uint8_t* mask, const uint8_t* grey, const BlobLimits& limits,
                                                const uint8_t* rowsWithMotion) {
    labelRuns(mask, grey, rowsWithMotion);
    if (blobCount == 0) {
        handedOver.clear();
        return handedOver;
    }
    mergeGroups(labelCoveredArea(limits.growthMargin));
    handOverBlobs(limits);
    return handedOver;
}

void BlobExtractor::labelRuns(const uint8_t* mask, const uint8_t* grey, const uint8_t* rowsWithMotion) {
    const int w = width;
    const int h = height;
    Label* labels = rowLabels.get();
    std::fill_n(labels, w, noLabel);
    bool labelsUnset = true;
    blobCount = 0;
    for (int row = 1; row < h; ++row) {
        if (rowsWithMotion && !rowsWithMotion[row]) {
            if (!labelsUnset) std::fill_n(labels, w, noLabel);
            labelsUnset = true;
            continue;
        }
        labelsUnset = false;
        const uint8_t* maskRow = mask + size_t(row) * w;
        const uint8_t* greyRow = grey + size_t(row) * w;
        for (int column = 1; column < w; ++column) {
            // Most of a mask is background: eight such pixels at a time.
            if (column + 8 <= w && allZero<8>(maskRow + column)) {
                std::fill_n(labels + column, 8, noLabel);
                column += 7;
                continue;
            }
            if (maskRow[column] != motion) {
                labels[column] = noLabel;
                continue;
            }
            const Label left = labels[column - 1];
            const Label up = labels[column];
            if (left != noLabel) {
                Blob& blob = firstPassBlobs[left];
                blob.x1 = std::max(blob.x1, column);
                addPixel(blob, column, row, greyRow[column]);
                labels[column] = left;
            } else if (up != noLabel) {
                Blob& blob = firstPassBlobs[up];
                blob.y1 = row;
                addPixel(blob, column, row, greyRow[column]);
            } else if (blobCount < maxBlobs) {
                firstPassBlobs[blobCount] = startBlob(column, row, greyRow[column]);
                labels[column] = Label(blobCount++);
            } else {
                // Out of first-pass slots: the run starts no blob, but a later
                // pixel of it may still join a blob from above.
                labels[column] = noLabel;
            }
        }
    }
}

// The grown boxes are listed by their first row, and the rows are labelled
// top to bottom keeping only the row above: a box enters the active list at
// its first row and leaves it after its last, writing its run-length cell
// into each row it covers. A box's corner label is read when its first row
// is done; mergeGroups resolves it through the table afterwards, as the
// table stands at the end.
int BlobExtractor::labelCoveredArea(int growthMargin) {
    std::fill_n(firstBoxOfRow.get(), height, -1);
    for (int j = blobCount - 1; j >= 0; --j) {
        const Blob& blob = firstPassBlobs[j];
        const GrownBox box{std::max(blob.x0 - growthMargin, 1), std::min(blob.x1 + growthMargin, width - 1),
                           std::max(blob.y0 - growthMargin, 1), std::min(blob.y1 + growthMargin, height - 1)};
        grownBoxes[j] = box;
        cornerLabels[j] = noLabel; // stays so for a box starting in the last row, which is never labelled
        nextBoxOfRow[j] = firstBoxOfRow[box.y0];
        firstBoxOfRow[box.y0] = j;
    }
    activeBoxes.clear();
    int next = 0;
    int16_t* runs = rowRuns.get();
    Label* above = coveredRows[0].get();
    Label* line = coveredRows[1].get();
    bool aboveDirty = false, lineDirty = false;
    for (int y = 1; y < height - 1; ++y) {
        for (int32_t j = firstBoxOfRow[y]; j >= 0; j = nextBoxOfRow[j]) activeBoxes.push_back(j);
        if (lineDirty) std::fill_n(line, width, noLabel); // holds the row two above
        lineDirty = !activeBoxes.empty();
        if (lineDirty) {
            for (int32_t j : activeBoxes) {
                const GrownBox& box = grownBoxes[j];
                int16_t& cell = runs[box.x0];
                cell = std::max(cell, int16_t(box.x1 - box.x0 + 1));
            }
            labelLine(above, line, next);
            // The border column is never labelled, so a corner there reads no label.
            for (int32_t j = firstBoxOfRow[y]; j >= 0; j = nextBoxOfRow[j]) cornerLabels[j] = line[grownBoxes[j].x0];
            for (int32_t j : activeBoxes) runs[grownBoxes[j].x0] = 0;
            activeBoxes.erase(std::remove_if(activeBoxes.begin(), activeBoxes.end(),
                                             [&](int32_t j) { return grownBoxes[j].y1 == y; }),
                              activeBoxes.end());
        }
        std::swap(above, line);
        std::swap(aboveDirty, lineDirty);
    }
    if (aboveDirty) std::fill_n(above, width, noLabel);
    if (lineDirty) std::fill_n(line, width, noLabel);
    return next;
}

// Labels the covered pixels of one row, whose labels are all unset on entry.
void BlobExtractor::labelLine(const Label* above, Label* line, int& next) {
    const int16_t* runs = rowRuns.get();
    // Unlabelled neighbours weigh as maxBlobs, which no real label reaches.
    const auto weight = [](Label label) { return label == noLabel ? int(maxBlobs) : int(label); };
    int run = 0;
    for (int column = 1; column < width - 1; ++column) {
        // Stretches with no box are skipped eight cells at a time.
        if (run == 0 && column + 8 <= width - 1 && allZero<16>(runs + column)) {
            column += 7;
            continue;
        }
        run = std::max(run - 1, int(runs[column]));
        if (run == 0) continue;
        const Label neighbours[4] = {line[column - 1], above[column - 1], above[column], above[column + 1]};
        // Inside a region all four agree; the table would only be set to itself.
        if (neighbours[0] != noLabel && neighbours[0] == neighbours[1] && neighbours[0] == neighbours[2] &&
            neighbours[0] == neighbours[3]) {
            line[column] = neighbours[0];
            continue;
        }
        int smallest = maxBlobs;
        for (Label label : neighbours) smallest = std::min(smallest, weight(label));
        if (smallest == maxBlobs) {
            line[column] = Label(next);
            labelTable[next] = Label(next);
            ++next;
            continue;
        }
        line[column] = Label(smallest);
        for (Label label : neighbours)
            if (label != noLabel) labelTable[label] = labelTable[smallest];
    }
}

void BlobExtractor::mergeGroups(int groupCount) {
    std::fill_n(mergedBlobs.get(), blobCount, Blob{});
    // With no growth margin a box starting in the last row or column has its
    // corner outside the labelled area; such a blob becomes a group of its
    // own, numbered after the regular groups (the total stays below
    // blobCount because every regular group owns at least one corner).
    int32_t ownGroup = groupCount;
    for (int j = 0; j < blobCount; ++j) {
        const Blob& blob = firstPassBlobs[j];
        const Label corner = cornerLabels[j];
        const int32_t group = corner == noLabel ? ownGroup++ : labelTable[corner];
        Blob& target = mergedBlobs[group];
        if (target.pixelCount == 0) {
            target = blob;
            target.label = group;
        } else {
            mergeInto(target, blob);
        }
    }
}

void BlobExtractor::handOverBlobs(const BlobLimits& limits) {
    handedOver.clear();
    for (int k = 0; k < blobCount; ++k) {
        Blob blob = mergedBlobs[k];
        if (blob.pixelCount == 0) continue;
        blob.centroidX = blob.centroidX / static_cast<float>(blob.pixelCount);
        blob.centroidY = blob.centroidY / static_cast<float>(blob.pixelCount);
        const int w = blob.x1 - blob.x0 + 1;
        const int h = blob.y1 - blob.y0 + 1;
        if (w >= limits.minWidth && w <= limits.maxWidth && h >= limits.minHeight && h <= limits.maxHeight)
            handedOver.push_back(blob);
    }
}

} // namespace motion
