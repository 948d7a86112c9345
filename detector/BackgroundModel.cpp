// Per-pixel mixture-of-Gaussians background update.
//
// Eight neighbouring pixels are updated together, one per vector lane. Each
// lane performs exactly the single-precision steps of its own pixel, in the
// same order; where the steps of different pixels branch apart, every lane
// computes both sides and keeps its own by a lane mask. The result is thus
// bit for bit that of updating the pixels one at a time, on one thread or many.
#include "detector/MotionDetector.h"

#include <emmintrin.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <utility>

// Every helper taking or returning vectors is forced inline: the baseline and
// the AVX2 build pass 32-byte vectors differently, so an out-of-line call
// between them would mismatch. No such call exists, hence no ABI concern.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr int lanes = PixelModelStore::lanes;
typedef float Floats __attribute__((vector_size(lanes * sizeof(float))));
typedef int32_t Ints __attribute__((vector_size(lanes * sizeof(int32_t)))); // lane masks: -1 true, 0 false
typedef uint8_t Bytes __attribute__((vector_size(lanes)));

constexpr float matchFactor = 6.25f;     // 2.5 standard deviations, squared
constexpr float backgroundWeight = 0.7f; // weight share that counts as background

struct UpdateParams {
    float alpha;
    float minVariance;
    int components;
};

// One component of eight pixels.
struct Slot {
    Floats weight, mean, variance, fitness;
};

// The pixels of one row segment handed to the group kernel.
struct RowJob {
    PixelModelStore::SlotGroup* slots; // slot 0 of the row's first group
    int64_t planeStride;
    uint8_t* initialized;
    const uint8_t* frame;
    const uint8_t* regionMask; // null: every pixel included
    uint8_t* mask;
    int width;
};

template <typename V>
[[gnu::always_inline]] inline V load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
[[gnu::always_inline]] inline void store(void* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

// Bit i set when lane i of the mask is set.
[[gnu::always_inline]] inline unsigned laneBits(Ints m) {
    __m128 halves[2];
    std::memcpy(halves, &m, sizeof halves);
    return unsigned(_mm_movemask_ps(halves[0])) | unsigned(_mm_movemask_ps(halves[1])) << 4;
}

// Most groups take the same path in every lane (all matched by their first
// component, nothing to re-rank), so the steps below skip work that no lane
// needs; the results are unchanged.
[[gnu::always_inline]] inline bool any(Ints m) { return laneBits(m) != 0; }
[[gnu::always_inline]] inline bool all(Ints m) { return laneBits(m) == (1u << lanes) - 1; }

[[gnu::always_inline]] inline Ints maskOfBits(unsigned bits) {
    const Ints laneBit = {1, 2, 4, 8, 16, 32, 64, 128};
    return ((Ints{} + int32_t(bits)) & laneBit) != 0;
}

// 255 in byte i for each set bit i: the motion decisions of a group.
struct ByteSpread {
    uint64_t bytes[1 << lanes];
    constexpr ByteSpread() : bytes() {
        for (unsigned bits = 0; bits < (1u << lanes); ++bits)
            for (int i = 0; i < lanes; ++i)
                if (bits >> i & 1) bytes[bits] |= uint64_t{0xff} << (8 * i);
    }
};
constexpr ByteSpread byteSpread;

[[gnu::always_inline]] inline void swapWhere(Ints select, Slot& a, Slot& b) {
    if (!any(select)) return;
    const Slot oldA = a;
    a.weight = select ? b.weight : a.weight;
    a.mean = select ? b.mean : a.mean;
    a.variance = select ? b.variance : a.variance;
    a.fitness = select ? b.fitness : a.fitness;
    b.weight = select ? oldA.weight : b.weight;
    b.mean = select ? oldA.mean : b.mean;
    b.variance = select ? oldA.variance : b.variance;
    b.fitness = select ? oldA.fitness : b.fitness;
}

// Step 2: the first component within 2.5 deviations of x takes the value.
// Returns the lanes that matched; p gets the matched position there.
template <int n>
[[gnu::always_inline]] inline Ints matchFirst(Slot* c, Floats x, Floats alpha, Floats minVariance, Ints& p) {
    Ints matched = {};
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        const Floats d = x - c[k].mean;
        const Ints hit = (c[k].variance * matchFactor > d * d) & ~matched;
        if (!any(hit)) continue;
        matched |= hit;
        const Floats variance = (d * d - c[k].variance) * alpha + c[k].variance;
        c[k].weight = hit ? alpha + c[k].weight : c[k].weight;
        c[k].mean = hit ? d * alpha + c[k].mean : c[k].mean;
        c[k].variance = hit ? (variance < minVariance ? minVariance : variance) : c[k].variance;
        p = hit ? Ints{} + k : p;
        if (all(matched)) break;
    }
    return matched;
}

// Step 3: without a match the last slot in use takes the value, with the
// largest variance present (at least the floor). Returns the total weight.
template <int n>
[[gnu::always_inline]] inline Floats replaceLast(Slot* c, Ints replace, Ints& initialized, Floats x, Floats alpha, Floats minVariance) {
    Floats largest = minVariance;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) largest = c[k].variance > largest ? c[k].variance : largest;
    Slot& last = c[n - 1];
    const Floats total = initialized ? (1.0f - last.weight) + alpha : alpha;
    last.mean = replace ? x : last.mean;
    last.weight = replace ? alpha : last.weight;
    last.variance = replace ? largest : last.variance;
    initialized |= replace;
    return total;
}

// Steps 4 to 8 for lanes whose updated component sits at p.
template <int n>
[[gnu::always_inline]] inline Ints rankAndDecide(Slot* c, Floats total, Floats alpha, Ints p) {
    const Floats r = 1.0f / total;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        const Ints live = c[k].weight >= alpha;
        if (!any(live)) continue;
        const Floats weight = c[k].weight * r;
        c[k].fitness = live ? weight / c[k].variance : c[k].fitness;
        c[k].weight = live ? weight : c[k].weight;
    }
    if (any(p > 0)) {
#pragma GCC unroll 10
        for (int j = n - 1; j > 0; --j) {
            const Ints move = (p == j) & ~(c[j - 1].fitness > c[j].fitness);
            swapWhere(move, c[j - 1], c[j]);
            p = move ? p - 1 : p;
        }
    }
    Ints unordered = {};
#pragma GCC unroll 10
    for (int k = 0; k + 1 < n; ++k) unordered |= c[k + 1].fitness > c[k].fitness;
    if (any(unordered)) {
#pragma GCC unroll 10
        for (int k = 0; k + 1 < n; ++k) swapWhere(c[k + 1].fitness > c[k].fitness, c[k], c[k + 1]);
    }
    Floats sum = {};
    Ints found = {};
    Ints b = Ints{} + (n - 1);
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        sum = sum + c[k].weight;
        const Ints stop = (sum > backgroundWeight) & ~found;
        b = stop ? Ints{} + k : b;
        found |= stop;
    }
    return p > b;
}

// Updates the models of eight pixels with their grey values x; lanes outside
// `included` keep their models untouched. Returns the motion lanes.
template <int n>
[[gnu::always_inline]] inline Ints updateGroup(Slot* c, Ints& initialized, Floats x, Ints included, const UpdateParams& u) {
    const Floats alpha = Floats{} + u.alpha;
    const Floats minVariance = Floats{} + u.minVariance;
    Ints p = Ints{} + (n - 1);
    const Ints matched = matchFirst<n>(c, x, alpha, minVariance, p);
    Floats total = alpha + 1.0f;
    if (!all(matched)) {
        Ints replaced = initialized;
        const Floats replaceTotal = replaceLast<n>(c, ~matched, replaced, x, alpha, minVariance);
        initialized = included ? replaced : initialized;
        total = matched ? total : replaceTotal;
    }
    return rankAndDecide<n>(c, total, alpha, p) & included;
}

// Loads slots 0..n-1 of group g, or stores them back.
template <int n>
[[gnu::always_inline]] inline void loadSlots(const RowJob& job, int g, Slot* c) {
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        const PixelModelStore::SlotGroup& s = job.slots[job.planeStride * k + g];
        c[k] = {load<Floats>(s.weight), load<Floats>(s.mean), load<Floats>(s.variance), load<Floats>(s.fitness)};
    }
}

template <int n>
[[gnu::always_inline]] inline void storeSlots(const RowJob& job, int g, const Slot* c) {
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        PixelModelStore::SlotGroup& s = job.slots[job.planeStride * k + g];
        store(s.weight, c[k].weight);
        store(s.mean, c[k].mean);
        store(s.variance, c[k].variance);
        store(s.fitness, c[k].fitness);
    }
}

// Up to eight bytes of a row as floats, zero beyond count.
[[gnu::always_inline]] inline Floats loadValues(const uint8_t* p, int count) {
    uint8_t bytes[lanes] = {};
    std::memcpy(bytes, p, count == lanes ? lanes : count);
    return __builtin_convertvector(__builtin_convertvector(load<Bytes>(bytes), Ints), Floats);
}

template <int n>
[[gnu::always_inline]] inline void updateRowGroups(const RowJob& job, const UpdateParams& u) {
    for (int x0 = 0, g = 0; x0 < job.width; x0 += lanes, ++g) {
        const int count = job.width - x0 < lanes ? job.width - x0 : lanes;
        Ints included = maskOfBits((1u << count) - 1);
        if (job.regionMask) included &= loadValues(job.regionMask + x0, count) != 0.0f;
        Ints initialized = maskOfBits(job.initialized[g]);
        const Floats x = loadValues(job.frame + x0, count);

        Slot c[n];
        loadSlots<n>(job, g, c);
        const unsigned motion = laneBits(updateGroup<n>(c, initialized, x, included, u));
        if (!all(included)) {
            // Excluded and padding lanes keep their models as they were.
            Slot old[n];
            loadSlots<n>(job, g, old);
            for (int k = 0; k < n; ++k) swapWhere(~included, c[k], old[k]);
        }
        storeSlots<n>(job, g, c);
        job.initialized[g] = uint8_t(laneBits(initialized));
        std::memcpy(job.mask + x0, &byteSpread.bytes[motion], count == lanes ? lanes : count);
    }
}

template <int... counts>
[[gnu::always_inline]] inline void updateRowFor(const RowJob& job, const UpdateParams& u,
                                                         std::integer_sequence<int, counts...>) {
    ((u.components == counts + 1 ? updateRowGroups<counts + 1>(job, u) : void()), ...);
}

[[gnu::always_inline]] inline void updateRowAnyCount(const RowJob& job, const UpdateParams& u) {
    updateRowFor(job, u, std::make_integer_sequence<int, PixelModel::capacity>());
}

// The same code built twice: for the x86-64 baseline (two SSE halves per
// vector) and for AVX2 (one register), chosen once by the processor.
void updateRowBaseline(const RowJob& job, const UpdateParams& u) { updateRowAnyCount(job, u); }
__attribute__((target("avx2"))) void updateRowAvx2(const RowJob& job, const UpdateParams& u) {
    updateRowAnyCount(job, u);
}

using RowUpdate = void (*)(const RowJob&, const UpdateParams&);

RowUpdate chooseRowUpdate() {
    __builtin_cpu_init(); // may run before the runtime's own constructors
    return __builtin_cpu_supports("avx2") ? updateRowAvx2 : updateRowBaseline;
}

const RowUpdate updateRow = chooseRowUpdate();

} // namespace

void MotionDetector::updateBackground(const uint8_t* scaledFrame, const uint8_t* regionMask) {
    updateBackgroundRows(scaledFrame, regionMask, 0, scaledHeight);
}

void MotionDetector::updateBackgroundParallel(const uint8_t* scaledFrame, const uint8_t* regionMask) {
    if (numThreads > 1) omp_set_num_threads(numThreads);
#pragma omp parallel
    {
        const int32_t t = omp_get_thread_num();
        const int32_t teamSize = omp_get_num_threads();
        updateBackgroundRows(scaledFrame, regionMask, t * scaledHeight / teamSize, (t + 1) * scaledHeight / teamSize);
    }
}

void MotionDetector::updateBackgroundRows(const uint8_t* scaledFrame, const uint8_t* regionMask, int firstRow,
                                          int endRow) {
    const UpdateParams u{static_cast<float>(alphaCoeff), static_cast<float>(pixelDeviation * pixelDeviation),
                         numGaussElements};
    for (int row = firstRow; row < endRow; ++row) {
        const int64_t offset = int64_t{row} * scaledWidth;
        // A rate whose reciprocal overflows (0 included) would normalise the
        // first frame's weights to infinity or NaN; such a model cannot
        // learn, so it stays as it is and every pixel counts as background.
        if (!std::isfinite(1.0f / u.alpha)) {
            std::memset(mask.get() + offset, 0, size_t(scaledWidth));
            continue;
        }
        const RowJob job{pixelModels.rowSlots(row), pixelModels.planeStride(), pixelModels.rowInitialized(row),
                         scaledFrame + offset, regionMask ? regionMask + offset : nullptr, mask.get() + offset,
                         scaledWidth};
        updateRow(job, u);
    }
}
