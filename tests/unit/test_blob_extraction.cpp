// Grouping of motion pixels into blobs, on masks built directly.
#include "detector/blobs/BlobExtractor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace motion;

namespace {

// The same blobs, bit for bit, in the same order.
::testing::AssertionResult sameBlobs(const std::vector<Blob>& got, const std::vector<Blob>& want) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " blobs instead of " << want.size();
    for (size_t i = 0; i < want.size(); ++i)
        if (std::memcmp(&got[i], &want[i], sizeof(Blob)) != 0) return ::testing::AssertionFailure() << "blob " << i;
    return ::testing::AssertionSuccess();
}

class BlobExtraction : public ::testing::Test {
protected:
    BlobExtractor extractor;
    // The detector's defaults at scale factor 1.
    BlobLimits limits{2, 128, 2, 128, 8};
    std::vector<uint8_t> mask;
    std::vector<uint8_t> grey;
    int w = 0;

    void geometry(int width, int height, uint8_t greyValue = 100) {
        w = width;
        extractor.resize(width, height);
        mask.assign(size_t(width) * height, 0);
        grey.assign(size_t(width) * height, greyValue);
    }
    // Boxes grow by half the minimum distance between objects.
    void minDistance(int distance) { limits.growthMargin = distance / 2; }
    void motion(int x, int y, uint8_t value = 255) { mask[size_t(y) * w + x] = value; }
    void row(int x0, int x1, int y) {
        for (int x = x0; x <= x1; ++x) motion(x, y);
    }
    void column(int x, int y0, int y1) {
        for (int y = y0; y <= y1; ++y) motion(x, y);
    }
    void rectangle(int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y) row(x0, x1, y);
    }
    // Accept blobs of any size, so that tests see every group.
    void anySize() {
        limits.minWidth = limits.minHeight = 1;
        limits.maxWidth = limits.maxHeight = 8192;
    }
    // Every group, with boxes not grown: blobs merge only when boxes touch.
    void anySizeNoMargin() {
        anySize();
        minDistance(1);
    }
    const std::vector<Blob>& extract() {
        const std::vector<Blob>& blobs = extractor.extract(mask.data(), grey.data(), limits);
        EXPECT_EQ(&blobs, &extractor.blobs());
        return blobs;
    }
    // The same in steps, the rows handed over a random number at a time as
    // the background update hands them on: boxes listed and rows labelled
    // early must give the same blobs.
    const std::vector<Blob>& extractInSteps(int height, std::mt19937& rng) {
        runs.resize(height);
        runs.startFrame(1);
        for (int y = 0; y < height; ++y) runs.findRow(y, &mask[size_t(y) * w], &grey[size_t(y) * w], w, 0);
        extractor.start(runs, grey.data(), limits);
        std::uniform_int_distribution<int> step(0, 4);
        for (int ready = 0; ready < height; ready += step(rng)) extractor.rowsReady(ready);
        return extractor.finish();
    }
    MotionRuns runs;
};

void expectBox(const Blob& b, int x0, int y0, int x1, int y1) {
    EXPECT_EQ(b.x0, x0);
    EXPECT_EQ(b.y0, y0);
    EXPECT_EQ(b.x1, x1);
    EXPECT_EQ(b.y1, y1);
}

} // namespace

TEST_F(BlobExtraction, SinglePixelMeasuredAndDroppedBelowMinimumSize) {
    geometry(32, 32, 77);
    motion(5, 7);
    EXPECT_TRUE(extract().empty()); // default minimum is 2 pixels

    anySize();
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 1u);
    expectBox(blobs[0], 5, 7, 5, 7);
    EXPECT_EQ(blobs[0].pixelCount, 1);
    EXPECT_EQ(blobs[0].intensitySum, 77);
    EXPECT_EQ(blobs[0].centroidX, 5.0f);
    EXPECT_EQ(blobs[0].centroidY, 7.0f);
    EXPECT_EQ(blobs[0].label, 0);
    EXPECT_EQ(blobs[0].reserved, 0.0f);
}

TEST_F(BlobExtraction, FirstRowAndColumnIgnoredLastRowAndColumnCounted) {
    geometry(32, 32);
    anySizeNoMargin();
    row(0, 31, 0);
    column(0, 0, 31);
    motion(10, 10, 254); // only exactly 255 is motion
    EXPECT_TRUE(extract().empty());

    motion(31, 5);
    motion(5, 31);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    expectBox(blobs[0], 31, 5, 31, 5);
    expectBox(blobs[1], 5, 31, 5, 31);
}

TEST_F(BlobExtraction, MeansAndSumsOverMergedFirstPassBlobs) {
    // A U whose arms meet only in the bottom row: two first-pass blobs whose
    // grown boxes overlap, handed over as one.
    geometry(40, 40, 10);
    column(5, 5, 15);
    column(12, 5, 15);
    row(5, 12, 16);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 1u);
    expectBox(blobs[0], 5, 5, 12, 16);
    EXPECT_EQ(blobs[0].pixelCount, 30);
    EXPECT_EQ(blobs[0].intensitySum, 300);
    EXPECT_FLOAT_EQ(blobs[0].centroidX, (11 * 5 + 11 * 12 + (5 + 12) * 8 / 2.0f) / 30);
}

TEST_F(BlobExtraction, GapOfTwiceTheMarginMergesOneMoreSeparates) {
    geometry(80, 32);
    rectangle(5, 5, 9, 9);
    rectangle(26, 5, 30, 9); // 16 empty columns between
    EXPECT_EQ(extract().size(), 1u);

    geometry(80, 32);
    rectangle(5, 5, 9, 9);
    rectangle(27, 5, 31, 9); // 17
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    expectBox(blobs[1], 27, 5, 31, 9);
}

TEST_F(BlobExtraction, WithoutMarginDiagonallyTouchingBoxesMerge) {
    geometry(32, 32);
    anySizeNoMargin();
    rectangle(5, 5, 6, 6);
    rectangle(7, 7, 8, 8); // touches only through a corner
    rectangle(20, 5, 21, 6);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    expectBox(blobs[0], 5, 5, 8, 8);
}

TEST_F(BlobExtraction, OneLevelUnionKeepsALaterRedirectedGroupApart) {
    // Boxes (margin 0) drawn as outlines so that their pixels never touch:
    // P labels first, Q second, R third. R is first joined to Q, and only
    // later Q to P (through U); R keeps pointing at Q's old entry.
    geometry(32, 32);
    anySizeNoMargin();
    row(2, 8, 1), column(2, 1, 10);    // P: box (2,1)-(8,10)
    row(14, 16, 2), column(16, 2, 8);  // Q: box (14,2)-(16,8)
    row(10, 13, 3), column(13, 3, 8);  // R: box (10,3)-(13,8)
    column(9, 7, 10);                  // U: box (9,7)-(9,10)
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    expectBox(blobs[0], 2, 1, 16, 10);
    EXPECT_EQ(blobs[0].pixelCount, 16 + 9 + 4);
    EXPECT_EQ(blobs[0].label, 0);
    expectBox(blobs[1], 10, 3, 13, 8);
    EXPECT_EQ(blobs[1].label, 1);
}

TEST_F(BlobExtraction, HandedOverInGroupOrderNotDiscoveryOrder) {
    // A is found first (row 3) but B's clipped grown corner (1,1) precedes
    // A's (25,1), so B gets the lower group label.
    geometry(64, 32);
    minDistance(10);
    rectangle(30, 3, 33, 6);
    rectangle(3, 5, 6, 8);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    EXPECT_EQ(blobs[0].x0, 3);
    EXPECT_EQ(blobs[0].label, 0);
    EXPECT_EQ(blobs[1].x0, 30);
    EXPECT_EQ(blobs[1].label, 1);
}

TEST_F(BlobExtraction, ScaledSizeLimitsAreInclusive) {
    geometry(64, 64);
    // Full-frame limits 9..13 wide, 2..128 high at scale factor 2.
    limits = {9 / 2, 13 / 2, 2 / 2, 128 / 2, 0};
    rectangle(2, 2, 4, 4);    // 3 wide: too narrow
    rectangle(20, 2, 23, 4);  // 4
    rectangle(40, 2, 45, 4);  // 6
    rectangle(2, 30, 8, 32);  // 7: too wide
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 2u);
    EXPECT_EQ(blobs[0].x0, 20);
    EXPECT_EQ(blobs[1].x0, 40);
}

TEST_F(BlobExtraction, CornerOutsideLabelledAreaGetsAGroupOfItsOwn) {
    // With margin 0 a box starting in the last row or column has its corner
    // where no label is ever written.
    geometry(32, 32);
    anySizeNoMargin();
    rectangle(3, 3, 4, 4);
    motion(31, 10), motion(31, 11); // last column
    motion(8, 31), motion(9, 31);   // last row
    motion(20, 31);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 4u);
    expectBox(blobs[0], 3, 3, 4, 4);
    expectBox(blobs[1], 31, 10, 31, 11);
    expectBox(blobs[2], 8, 31, 9, 31);
    expectBox(blobs[3], 20, 31, 20, 31);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(blobs[size_t(k)].label, k);
}

TEST_F(BlobExtraction, AtTheFirstPassCapLaterRunsStartNothingButMayJoinAbove) {
    geometry(256, 256);
    anySizeNoMargin();
    column(2, 1, 160); // first blob found
    int isolated = 0;
    for (int y = 1; y < 160 && isolated < 9999; y += 2)
        for (int x = 6; x < 255 && isolated < 9999; x += 2, ++isolated) motion(x, y);
    ASSERT_EQ(isolated, 9999);
    // Row 161: (1,161) would start an 10001st blob and is refused, (2,161)
    // still joins the column above and (3,161) continues it.
    row(1, 3, 161);
    rectangle(100, 200, 110, 210); // refused entirely

    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 10000u);
    expectBox(blobs[0], 2, 1, 3, 161);
    EXPECT_EQ(blobs[0].pixelCount, 162);
    for (const Blob& b : blobs) EXPECT_LT(b.y1, 200);
}

TEST_F(BlobExtraction, EmptyMaskEmptiesTheListButKeepsItsStorage) {
    geometry(64, 32);
    rectangle(5, 5, 9, 9);
    rectangle(40, 5, 44, 9);
    ASSERT_EQ(extract().size(), 2u);
    const Blob* storage = extractor.blobs().data();

    std::fill(mask.begin(), mask.end(), 0);
    EXPECT_TRUE(extract().empty());
    rectangle(5, 5, 9, 9);
    ASSERT_EQ(extract().size(), 1u);
    EXPECT_EQ(extractor.blobs().data(), storage);
}

TEST_F(BlobExtraction, IntensitySumOfAHugeBlobWraps) {
    // 3000 x 3000 pixels of grey 255 sum to more than 2^31.
    const int side = 3001;
    geometry(side, side, 255);
    anySize();
    std::fill(mask.begin(), mask.end(), 255);
    const std::vector<Blob>& blobs = extract();
    ASSERT_EQ(blobs.size(), 1u);
    const int64_t count = int64_t(side - 1) * (side - 1);
    EXPECT_EQ(blobs[0].pixelCount, count);
    EXPECT_EQ(uint32_t(blobs[0].intensitySum), uint32_t(count * 255));
}

TEST_F(BlobExtraction, NothingOfAnEarlierFrameLeaksIntoTheNext) {
    // Boxes grown into the last row and column in one frame must leave no
    // run or label behind for a different mask in the next.
    for (int distance : {1, 9}) {
        geometry(40, 30);
        anySize();
        minDistance(distance);
        std::vector<uint8_t> first(40 * 30, 0), second(40 * 30, 0);
        for (int y = 20; y < 30; ++y)
            for (int x = 30; x < 40; ++x) first[size_t(y) * 40 + x] = 255;
        for (int x = 1; x < 40; x += 3) first[size_t(29) * 40 + x] = first[size_t(x % 30) * 40 + 39] = 255;
        for (int x = 5; x < 9; ++x) second[size_t(6) * 40 + x] = second[size_t(29) * 40 + x] = 255;
        extractor.extract(first.data(), grey.data(), limits);

        BlobExtractor fresh;
        fresh.resize(40, 30);
        const BlobLimits freshLimits{1, 128, 1, 128, distance / 2};
        const std::vector<Blob> expected = fresh.extract(second.data(), grey.data(), freshLimits);
        const std::vector<Blob> got = extractor.extract(second.data(), grey.data(), limits);
        EXPECT_TRUE(sameBlobs(got, expected)) << "distance " << distance;
    }
}

namespace {

// The grouping written out on whole images, as plainly as possible: the
// yardstick for the extractor, which keeps only a row or two of each image.
std::vector<Blob> referenceBlobs(const std::vector<uint8_t>& mask, const std::vector<uint8_t>& grey, int w, int h,
                                 const BlobLimits& limits) {
    const int m = limits.growthMargin;
    std::vector<Blob> first;
    std::vector<int> labels(size_t(w) * h, -1); // first pass: left, else up, else a new blob
    for (int y = 1; y < h; ++y)
        for (int x = 1; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            if (mask[i] != 255) continue;
            const int left = labels[i - 1], up = labels[i - w];
            int b = left >= 0 ? left : up;
            if (b < 0 && int(first.size()) < BlobExtractor::maxBlobs) {
                first.push_back(Blob{x, y, x, y, 0, 0, 0, 0.0f, 0.0f, 0.0f});
                b = int(first.size()) - 1;
            }
            labels[i] = b;
            if (b < 0) continue;
            Blob& blob = first[b];
            if (left >= 0) blob.x1 = std::max(blob.x1, x);
            else blob.y1 = y;
            blob.pixelCount += 1;
            blob.intensitySum = int32_t(uint32_t(blob.intensitySum) + grey[i]);
            blob.centroidX += float(x);
            blob.centroidY += float(y);
        }
    std::vector<int> runs(size_t(w) * h, 0), group(size_t(w) * h, -1), table;
    for (const Blob& b : first)
        for (int y = std::max(b.y0 - m, 1); y <= std::min(b.y1 + m, h - 1); ++y) {
            int& cell = runs[size_t(y) * w + std::max(b.x0 - m, 1)];
            cell = std::max(cell, std::min(b.x1 + m, w - 1) - std::max(b.x0 - m, 1) + 1);
        }
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1, run = 0; x < w - 1; ++x) {
            const size_t i = size_t(y) * w + x;
            run = std::max(run - 1, runs[i]);
            if (run <= 0) continue;
            const int around[4] = {group[i - 1], group[i - w - 1], group[i - w], group[i - w + 1]};
            int smallest = INT32_MAX;
            for (int g : around)
                if (g >= 0) smallest = std::min(smallest, g);
            if (smallest == INT32_MAX) {
                group[i] = int(table.size());
                table.push_back(group[i]);
                continue;
            }
            group[i] = smallest;
            for (int g : around)
                if (g >= 0) table[g] = table[smallest];
        }
    std::vector<Blob> merged(first.size());
    int own = int(table.size());
    for (const Blob& b : first) {
        const int corner = group[size_t(std::max(b.y0 - m, 1)) * w + std::max(b.x0 - m, 1)];
        const int g = corner < 0 ? own++ : table[corner];
        Blob& t = merged[g];
        if (t.pixelCount == 0) {
            t = b;
            t.label = g;
            continue;
        }
        t.x0 = std::min(t.x0, b.x0), t.y0 = std::min(t.y0, b.y0);
        t.x1 = std::max(t.x1, b.x1), t.y1 = std::max(t.y1, b.y1);
        t.pixelCount += b.pixelCount;
        t.intensitySum = int32_t(uint32_t(t.intensitySum) + uint32_t(b.intensitySum));
        t.centroidX += b.centroidX, t.centroidY += b.centroidY;
    }
    std::vector<Blob> out;
    for (Blob b : merged) {
        if (b.pixelCount == 0) continue;
        b.centroidX /= float(b.pixelCount), b.centroidY /= float(b.pixelCount);
        const int bw = b.x1 - b.x0 + 1, bh = b.y1 - b.y0 + 1;
        if (bw >= limits.minWidth && bw <= limits.maxWidth && bh >= limits.minHeight && bh <= limits.maxHeight)
            out.push_back(b);
    }
    return out;
}

} // namespace

// Random scenes of boxes and noise, at odd sizes and several margins, one
// extractor reused for all: the same blobs as the whole-image reference.
TEST_F(BlobExtraction, MatchesTheWholeImageReferenceOnRandomMasks) {
    std::mt19937 rng(5);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    for (int scene = 0; scene < 60; ++scene) {
        const int width = uniform(4, 90), height = uniform(3, 70);
        geometry(width, height);
        for (uint8_t& g : grey) g = uint8_t(uniform(0, 255));
        for (int boxes = uniform(0, 12); boxes > 0; --boxes) {
            const int x0 = uniform(0, width - 1), y0 = uniform(0, height - 1);
            rectangle(x0, y0, std::min(width - 1, x0 + uniform(0, 9)), std::min(height - 1, y0 + uniform(0, 9)));
        }
        for (uint8_t& v : mask)
            if (uniform(0, 40) == 0) v = uniform(0, 3) ? 255 : 254;
        anySize();
        if (scene % 3 == 1) limits.minWidth = limits.minHeight = 3;
        limits.growthMargin = uniform(0, 6);
        const std::vector<Blob> want = referenceBlobs(mask, grey, width, height, limits);
        ASSERT_TRUE(sameBlobs(extract(), want)) << "whole, scene " << scene;
        ASSERT_TRUE(sameBlobs(extractInSteps(height, rng), want)) << "stepwise, scene " << scene;
    }
}

// Scenes the small ones cannot make: blobs so large that their coordinate
// sums leave the integers a float holds exactly (runs are then added pixel
// by pixel), and a frame with more runs than first-pass slots, whose late
// runs are cut to the part that joins a blob above.
TEST_F(BlobExtraction, MatchesTheWholeImageReferenceOnLargeAndCrowdedScenes) {
    std::mt19937 rng(11);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const auto compare = [&](int width, int height, const char* scene) {
        anySize();
        for (int margin : {0, 3}) {
            limits.growthMargin = margin;
            const std::vector<Blob> want = referenceBlobs(mask, grey, width, height, limits);
            for (const bool inSteps : {false, true}) {
                const std::vector<Blob>& got = inSteps ? extractInSteps(height, rng) : extract();
                ASSERT_TRUE(sameBlobs(got, want)) << scene << ", margin " << margin << ", in steps " << inSteps;
            }
        }
    };

    geometry(1500, 1100);
    for (uint8_t& g : grey) g = uint8_t(uniform(0, 255));
    for (int y = 100; y < 1050; ++y) // a large ring, with runs of every length and holes
        for (int x = 700; x < 1480; ++x) {
            const int dx = x - 1090, dy = y - 575;
            if (dx * dx + dy * dy < 380 * 380 && dx * dx + dy * dy > 60 * 60 && uniform(0, 30) != 0) motion(x, y);
        }
    rectangle(20, 30, 600, 90);
    for (uint8_t& v : mask)
        if (uniform(0, 200) == 0) v = 255;
    compare(1500, 1100, "large");

    geometry(420, 300);
    for (uint8_t& g : grey) g = uint8_t(uniform(0, 255));
    for (int x = 10; x < 410; x += 40) rectangle(x, 1, x + uniform(0, 12), 299); // bars started before the cap
    int isolated = 0;
    for (int y = 2; y < 200; y += 2)
        for (int x = 1; x < 419 && isolated < BlobExtractor::maxBlobs; x += 2)
            if (x % 40 > 24 || x % 40 < 8) {
                motion(x, y);
                ++isolated;
            }
    ASSERT_EQ(isolated, BlobExtractor::maxBlobs);
    for (int boxes = 0; boxes < 60; ++boxes) {
        const int x0 = uniform(1, 380), y0 = uniform(200, 280);
        rectangle(x0, y0, x0 + uniform(0, 35), y0 + uniform(0, 15));
    }
    compare(420, 300, "crowded");
}
