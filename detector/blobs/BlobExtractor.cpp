#include "detector/blobs/BlobExtractor.h"

#include "detector/tracking/IntArithmetic.h"

#include <algorithm>
#include <cstring>

namespace motion {

namespace {

constexpr int32_t noLabel = -1;
constexpr uint8_t motion = 255;

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

BlobExtractor::BlobExtractor()
    : mergedBlobs(allocate<Blob>(maxBlobs)), firstPassBlobs(allocate<Blob>(maxBlobs)),
      labelTable(allocate<int32_t>(maxBlobs)) {}

void BlobExtractor::resize(int scaledWidth, int scaledHeight) {
    release();
    const int64_t pixels = int64_t{scaledWidth} * scaledHeight;
    try {
        rowLabels = allocate<int32_t>(scaledWidth);
        // Extraction keeps runs cleared and the label image's border
        // unlabelled between frames instead of refilling both every frame.
        grownRuns = allocate<int32_t>(pixels);
        labelImage.reset(new int32_t[size_t(pixels)]);
        std::fill_n(labelImage.get(), pixels, noLabel);
    } catch (...) {
        release();
        throw;
    }
    width = scaledWidth;
    height = scaledHeight;
}

void BlobExtractor::release() {
    rowLabels.reset();
    grownRuns.reset();
    labelImage.reset();
    width = height = 0;
}

const std::vector<Blob>& BlobExtractor::extract(const uint8_t* mask, const uint8_t* grey, const BlobLimits& limits) {
    labelRuns(mask, grey);
    if (blobCount == 0) {
        handedOver.clear();
        return handedOver;
    }
    markGrownBoxes(limits.growthMargin);
    mergeGroups(limits.growthMargin, labelCoveredArea());
    handOverBlobs(limits);
    return handedOver;
}

void BlobExtractor::labelRuns(const uint8_t* mask, const uint8_t* grey) {
    const int w = width;
    const int h = height;
    int32_t* labels = rowLabels.get();
    std::fill_n(labels, w, noLabel);
    blobCount = 0;
    for (int row = 1; row < h; ++row) {
        const uint8_t* maskRow = mask + size_t(row) * w;
        const uint8_t* greyRow = grey + size_t(row) * w;
        for (int column = 1; column < w; ++column) {
            if (maskRow[column] != motion) {
                labels[column] = noLabel;
                continue;
            }
            const int32_t left = labels[column - 1];
            const int32_t up = labels[column];
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
                labels[column] = blobCount++;
            } else {
                // Out of first-pass slots: the run starts no blob, but a later
                // pixel of it may still join a blob from above.
                labels[column] = noLabel;
            }
        }
    }
}

void BlobExtractor::markGrownBoxes(int growthMargin) {
    const int w = width;
    const int h = height;
    for (int j = 0; j < blobCount; ++j) {
        const Blob& blob = firstPassBlobs[j];
        const int gx0 = std::max(blob.x0 - growthMargin, 1);
        const int gx1 = std::min(blob.x1 + growthMargin, w - 1);
        const int gy0 = std::max(blob.y0 - growthMargin, 1);
        const int gy1 = std::min(blob.y1 + growthMargin, h - 1);
        const int32_t length = gx1 - gx0 + 1;
        for (int y = gy0; y <= gy1; ++y) {
            int32_t& cell = grownRuns[size_t(y) * w + gx0];
            cell = std::max(cell, length);
        }
    }
}

int BlobExtractor::labelCoveredArea() {
    const int w = width;
    const int h = height;
    int32_t next = 0;
    for (int line = 1; line < h - 1; ++line) {
        int32_t* runs = grownRuns.get() + size_t(line) * w;
        int32_t* row = labelImage.get() + size_t(line) * w;
        const int32_t* above = row - w;
        int32_t run = 0;
        // Unlabelled neighbours weigh as maxBlobs, which no real label reaches.
        const auto weight = [](int32_t label) { return label == noLabel ? maxBlobs : label; };
        for (int column = 1; column < w - 1; ++column) {
            run = std::max(run - 1, runs[column]);
            // Cleared as read, so the next frame starts from no runs without
            // refilling the image; cells outside the visited area are never read.
            if (runs[column] != 0) runs[column] = 0;
            if (run <= 0) {
                row[column] = noLabel;
                continue;
            }
            const int32_t neighbours[4] = {row[column - 1], above[column - 1], above[column], above[column + 1]};
            int32_t smallest = maxBlobs;
            for (int32_t label : neighbours) smallest = std::min(smallest, weight(label));
            if (smallest == maxBlobs) {
                row[column] = next;
                labelTable[next] = next;
                ++next;
                continue;
            }
            row[column] = smallest;
            for (int32_t label : neighbours)
                if (label != noLabel) labelTable[label] = labelTable[smallest];
        }
    }
    return next;
}

void BlobExtractor::mergeGroups(int growthMargin, int groupCount) {
    std::fill_n(mergedBlobs.get(), blobCount, Blob{});
    // With no growth margin a box starting in the last row or column has its
    // corner outside the labelled area; such a blob becomes a group of its
    // own, numbered after the regular groups (the total stays below
    // blobCount because every regular group owns at least one corner).
    int32_t ownGroup = groupCount;
    for (int j = 0; j < blobCount; ++j) {
        const Blob& blob = firstPassBlobs[j];
        const int cornerX = std::max(blob.x0 - growthMargin, 1);
        const int cornerY = std::max(blob.y0 - growthMargin, 1);
        const int32_t corner = labelImage[size_t(cornerY) * width + cornerX];
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
