#include "detector/blobs/BlobExtractor.h"

#include "detector/tracking/IntArithmetic.h"

#include <algorithm>
#include <cstring>

namespace motion {

namespace {

constexpr int16_t noLabel = -1;

// Every integer up to 2^24 is a float, so a float sum of integers that
// stays within it is exact whatever the order of the additions.
constexpr double exactFloatLimit = 16777216.0;

bool exactInFloat(float sum, int64_t addend) { return double(sum) + double(addend) <= exactFloatLimit; }

// Adds the pixels of columns first..last of a row to blob, giving bit for
// bit what adding them one at a time from the left gives: a coordinate sum
// that stays exact is added at once, any other pixel by pixel. Grey sums
// wrap, so their order does not matter.
void addRun(Blob& blob, int first, int last, int row, uint32_t grey) {
    const int count = last - first + 1;
    blob.pixelCount += count;
    blob.intensitySum = wrappingAdd(blob.intensitySum, int32_t(grey));
    const int64_t columns = (int64_t{first} + last) * count / 2;
    const int64_t rows = int64_t{row} * count;
    const bool columnsExact = exactInFloat(blob.centroidX, columns);
    const bool rowsExact = exactInFloat(blob.centroidY, rows);
    if (columnsExact) blob.centroidX = static_cast<float>(static_cast<int64_t>(blob.centroidX) + columns);
    if (rowsExact) blob.centroidY = static_cast<float>(static_cast<int64_t>(blob.centroidY) + rows);
    if (columnsExact && rowsExact) return;
    for (int x = first; x <= last; ++x) {
        if (!columnsExact) blob.centroidX = blob.centroidX + static_cast<float>(x);
        if (!rowsExact) blob.centroidY = blob.centroidY + static_cast<float>(row);
    }
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
// no memory) beyond the most blobs any frame had. The lists of boxes get
// their room for every blob now, so that the steps never allocate.
BlobExtractor::BlobExtractor()
    : mergedBlobs(new Blob[maxBlobs]), firstPassBlobs(new Blob[maxBlobs]), labelTable(new Label[maxBlobs]),
      grownBoxes(new GrownBox[maxBlobs]), boxListed(new bool[maxBlobs]), cornerLabels(new Label[maxBlobs]),
      nextBoxOfRow(new int32_t[maxBlobs]) {
    activeBoxes.reserve(maxBlobs);
    activeSpans.reserve(maxBlobs);
}

void BlobExtractor::resize(int scaledWidth, int scaledHeight) {
    release();
    try {
        // A row has at most one stretch in every column; with this room the
        // labelling never allocates.
        for (TwoRows* rows : {&firstPass, &covered})
            for (auto* segments : {&rows->above, &rows->line}) segments->reserve(size_t(scaledWidth));
        firstBoxOfRow = allocate<int32_t>(scaledHeight);
        boxesEndingInRow = allocate<int32_t>(scaledHeight);
        maskRuns.resize(scaledHeight);
    } catch (...) {
        release();
        throw;
    }
    width = scaledWidth;
    height = scaledHeight;
}

void BlobExtractor::release() {
    for (TwoRows* rows : {&firstPass, &covered})
        for (auto* segments : {&rows->above, &rows->line}) std::vector<Segment>().swap(*segments);
    firstBoxOfRow.reset();
    boxesEndingInRow.reset();
    maskRuns.release();
    width = height = 0;
}

const std::vector<Blob>& BlobExtractor::extract(const uint8_t* mask, const uint8_t* grey, const BlobLimits& limits) {
    maskRuns.startFrame(1);
    for (int row = 1; row < height; ++row) {
        const size_t offset = size_t(row) * width;
        maskRuns.findRow(row, mask + offset, grey + offset, width, 0);
    }
    return extract(maskRuns, grey, limits);
}

void BlobExtractor::start(const MotionRuns& runs, const uint8_t* grey, const BlobLimits& limits) {
    frameRuns = &runs;
    frameGrey = grey;
    frameLimits = limits;
    blobCount = groupCount = 0;
    firstPassRow = coveredRow = 1;
    for (TwoRows* rows : {&firstPass, &covered}) {
        rows->above.clear();
        rows->line.clear();
    }
    activeBoxes.clear();
    activeSpans.clear();
    std::fill_n(firstBoxOfRow.get(), height, -1);
    std::fill_n(boxesEndingInRow.get(), height, 0);
}

// A blob is complete once a row of the first pass goes by without a run
// joining it, and its box is then listed; the covered area is labelled as
// far down as the listed boxes allow.
void BlobExtractor::rowsReady(int rows) {
    for (const int end = std::min(rows, height); firstPassRow < end; ++firstPassRow) {
        labelRunsOfRow(firstPassRow);
        for (const Segment& segment : firstPass.line) // the row before
            if (firstPassBlobs[segment.label].y1 < firstPassRow) listBox(segment.label);
    }
    labelCoveredRows(coveredRowsKnown());
}

const std::vector<Blob>& BlobExtractor::finish() {
    rowsReady(height);
    for (const Segment& segment : firstPass.above) listBox(segment.label); // the last row's blobs end with it
    if (blobCount == 0) {
        handedOver.clear();
        return handedOver;
    }
    labelCoveredRows(height - 1);
    mergeGroups();
    handOverBlobs();
    return handedOver;
}

// The labels of a row are kept as the stretches that have one; a row
// without motion has none, and neither has row 0.
void BlobExtractor::labelRunsOfRow(int row) {
    firstPass.line.clear();
    size_t above = 0;
    const uint8_t* greyRow = frameGrey + size_t(row) * width;
    for (const MotionRun* run = frameRuns->begin(row); run != frameRuns->end(row); ++run)
        labelRun(*run, row, greyRow, above);
    std::swap(firstPass.above, firstPass.line);
}

// A run's first pixel has no labelled left neighbour: it joins the blob
// above it or starts one, and the rest of the run follows it. Out of
// first-pass slots, the run is dropped up to its first pixel with a label
// above, which the rest then joins. Joining from above sets only the
// blob's last row; each pixel joined from the left widens the box.
void BlobExtractor::labelRun(const MotionRun& run, int row, const uint8_t* greyRow, size_t& above) {
    const std::vector<Segment>& aboveSegments = firstPass.above;
    const int first = run.first;
    const int last = run.last;
    while (above < aboveSegments.size() && aboveSegments[above].last < first) ++above;
    const bool hasAbove = above < aboveSegments.size();
    int joined = first;
    Label label;
    if (hasAbove && aboveSegments[above].first <= first) {
        label = aboveSegments[above].label;
    } else if (blobCount < maxBlobs) {
        Blob& blob = firstPassBlobs[blobCount];
        blob = Blob{};
        blob.x0 = blob.x1 = first;
        blob.y0 = row;
        boxListed[blobCount] = false;
        label = Label(blobCount++);
    } else if (hasAbove && aboveSegments[above].first <= last) {
        joined = aboveSegments[above].first;
        label = aboveSegments[above].label;
    } else {
        return;
    }
    Blob& blob = firstPassBlobs[label];
    blob.y1 = row;
    if (last > joined) blob.x1 = std::max(blob.x1, last);
    addRun(blob, joined, last, row, joined == first ? run.greySum : greySum(greyRow, joined, last));
    firstPass.line.push_back({joined, last, label});
}

// Lists a complete blob's grown box by its first row. The order of a row's
// boxes does not matter: the active list orders them by first column, and
// boxes with the same first column cover the same union in either order.
void BlobExtractor::listBox(int32_t j) {
    if (boxListed[j]) return;
    boxListed[j] = true;
    const Blob& blob = firstPassBlobs[j];
    const int32_t margin = frameLimits.growthMargin;
    const GrownBox box{std::max(blob.x0 - margin, 1), std::min(blob.x1 + margin, width - 1),
                       std::max(blob.y0 - margin, 1), std::min(blob.y1 + margin, height - 1)};
    grownBoxes[j] = box;
    cornerLabels[j] = noLabel; // stays so for a box starting in the last row, which is never labelled
    nextBoxOfRow[j] = firstBoxOfRow[box.y0];
    firstBoxOfRow[box.y0] = j;
    ++boxesEndingInRow[box.y1];
}

// The rows above the first row that a blob still incomplete, or one not
// yet started, could reach once grown: there every box is listed. A blob
// not started yet begins below the rows the first pass has seen.
int BlobExtractor::coveredRowsKnown() const {
    int32_t firstOpen = firstPassRow;
    for (const Segment& segment : firstPass.above) firstOpen = std::min(firstOpen, firstPassBlobs[segment.label].y0);
    return std::max(firstOpen - frameLimits.growthMargin, 1);
}

void BlobExtractor::labelCoveredRows(int endRow) {
    for (; coveredRow < endRow; ++coveredRow) labelCoveredRow(coveredRow);
}

// The rows are labelled top to bottom keeping only the row above: a box
// enters the active list at its first row and leaves it after its last; the
// row's covered columns are the union of the active boxes' columns, worked
// out again only when the list changes. A box's corner label is read when
// its first row is done; mergeGroups resolves it through the table
// afterwards, as the table stands at the end. A row's labels are kept as
// the stretches of one label.
void BlobExtractor::labelCoveredRow(int y) {
    bool boxesChanged = boxesEndingInRow[y - 1] > 0;
    if (boxesChanged)
        activeBoxes.erase(std::remove_if(activeBoxes.begin(), activeBoxes.end(),
                                         [&](int32_t j) { return grownBoxes[j].y1 == y - 1; }),
                          activeBoxes.end());
    for (int32_t j = firstBoxOfRow[y]; j >= 0; j = nextBoxOfRow[j]) {
        const auto place = std::upper_bound(activeBoxes.begin(), activeBoxes.end(), grownBoxes[j].x0,
                                            [&](int32_t x0, int32_t k) { return x0 < grownBoxes[k].x0; });
        activeBoxes.insert(place, j);
        boxesChanged = true;
    }
    if (boxesChanged) findActiveSpans();
    covered.line.clear();
    labelLine();
    // The border column is never labelled, so a corner there reads no label.
    for (int32_t j = firstBoxOfRow[y]; j >= 0; j = nextBoxOfRow[j]) cornerLabels[j] = lineLabelAt(grownBoxes[j].x0);
    std::swap(covered.above, covered.line);
}

// The columns the active boxes cover, left to right, within the labelled
// columns 1..width-2; overlapping and adjoining boxes make one span.
void BlobExtractor::findActiveSpans() {
    activeSpans.clear();
    for (int32_t j : activeBoxes) {
        const GrownBox& box = grownBoxes[j];
        if (box.x0 > width - 2) break;
        const int32_t last = std::min(box.x1, width - 2);
        if (!activeSpans.empty() && box.x0 <= activeSpans.back().last + 1)
            activeSpans.back().last = std::max(activeSpans.back().last, last);
        else
            activeSpans.push_back({box.x0, last});
    }
}

namespace {

// Reads a row's labels, kept as stretches of one label left to right, at
// columns that never decrease.
template <typename Stretches>
class StretchReader {
public:
    explicit StretchReader(const Stretches& stretches) : row(stretches) {}

    // The label at column x, and the last column from x on that has it (a
    // column without a label counts as one, up to the next stretch).
    int16_t labelAt(int x) {
        skipTo(x);
        return at < row.size() && row[at].first <= x ? row[at].label : noLabel;
    }
    int lastOfSame(int x) {
        skipTo(x);
        if (at == row.size()) return INT32_MAX;
        return row[at].first <= x ? row[at].last : row[at].first - 1;
    }

private:
    void skipTo(int x) {
        while (at < row.size() && row[at].last < x) ++at;
    }
    const Stretches& row;
    size_t at = 0;
};

} // namespace

// Labels the covered pixels of one row, left to right. Where the row above
// holds one label over a stretch, each pixel after the first sees only the
// label just given to its left, which is the smallest label the pixel
// before saw, and that label above, which the pixel before saw too and
// whose table entry it set to the smallest one's. So each takes the label
// on its left and changes nothing in the table: the stretch is filled at
// once, and only the pixels where the row above changes are looked at.
void BlobExtractor::labelLine() {
    StretchReader<std::vector<Segment>> behind(covered.above); // at the column left of the pixel
    for (const Span& span : activeSpans) {
        for (int column = span.first; column <= span.last;) {
            StretchReader ahead = behind;
            const Label left = column > span.first ? covered.line.back().label : noLabel;
            const Label neighbours[4] = {left, behind.labelAt(column - 1), ahead.labelAt(column),
                                         ahead.labelAt(column + 1)};
            appendStretch(column, labelPixel(neighbours));
            if (neighbours[3] != neighbours[2]) {
                ++column;
                continue;
            }
            const int change = int(std::min<int64_t>(int64_t{ahead.lastOfSame(column + 1)} + 1, span.last + 2));
            covered.line.back().last = std::max(covered.line.back().last, change - 2);
            column = change - 1;
        }
    }
}

// Adds one pixel's label to the row, joining the stretch on its left.
void BlobExtractor::appendStretch(int column, Label label) {
    if (!covered.line.empty() && covered.line.back().last == column - 1 && covered.line.back().label == label)
        covered.line.back().last = column;
    else
        covered.line.push_back({column, column, label});
}

// The label the row being labelled has at column x, if any.
BlobExtractor::Label BlobExtractor::lineLabelAt(int x) const {
    const auto after = std::upper_bound(covered.line.begin(), covered.line.end(), x,
                                        [](int column, const Segment& s) { return column < s.first; });
    return after != covered.line.begin() && std::prev(after)->last >= x ? std::prev(after)->label : noLabel;
}

// A pixel takes the smallest label among its four labelled neighbours
// (left, above left, above, above right) and points their table entries at
// that label's; the smallest one's own entry is only set to itself, so it
// is read once. Without a labelled neighbour it takes a new label.
BlobExtractor::Label BlobExtractor::labelPixel(const Label (&neighbours)[4]) {
    // Read unsigned, no label (-1) comes after every label.
    const auto order = [](Label label) { return uint16_t(label); };
    const Label smallest = std::min({neighbours[0], neighbours[1], neighbours[2], neighbours[3]},
                                    [&](Label a, Label b) { return order(a) < order(b); });
    if (smallest == noLabel) {
        labelTable[groupCount] = Label(groupCount);
        return Label(groupCount++);
    }
    const Label group = labelTable[smallest];
    for (Label label : neighbours)
        if (label != noLabel) labelTable[label] = group;
    return smallest;
}

void BlobExtractor::mergeGroups() {
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

void BlobExtractor::handOverBlobs() {
    const BlobLimits& limits = frameLimits;
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
