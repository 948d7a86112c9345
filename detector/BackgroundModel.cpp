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
    float matchedScale; // 1 / (alpha + 1): the normalisation after a match
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

// The first n components of a group's eight pixels, held in registers while
// the group is updated. `changed` marks the slots that differ from memory:
// only those are written back, so that in a quiet scene most of the model
// is read but not rewritten.
template <int n>
struct Components {
    Slot c[n];
    unsigned changed = 0;

    [[gnu::always_inline]] void swapWhere(Ints select, int i, int j) {
        if (!any(select)) return;
        Slot& a = c[i];
        Slot& b = c[j];
        const Slot oldA = a;
        a.weight = select ? b.weight : a.weight;
        a.mean = select ? b.mean : a.mean;
        a.variance = select ? b.variance : a.variance;
        a.fitness = select ? b.fitness : a.fitness;
        b.weight = select ? oldA.weight : b.weight;
        b.mean = select ? oldA.mean : b.mean;
        b.variance = select ? oldA.variance : b.variance;
        b.fitness = select ? oldA.fitness : b.fitness;
        changed |= 1u << i | 1u << j;
    }
};

// Step 2: the first component within 2.5 deviations of x takes the value.
// Returns the lanes that matched; p gets the matched position there.
template <int n>
[[gnu::always_inline]] inline Ints matchFirst(Components<n>& m, Floats x, Floats alpha, Floats minVariance, Ints& p) {
    Ints matched = {};
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        Slot& c = m.c[k];
        const Floats d = x - c.mean;
        const Ints hit = (c.variance * matchFactor > d * d) & ~matched;
        if (!any(hit)) continue;
        matched |= hit;
        const Floats variance = (d * d - c.variance) * alpha + c.variance;
        c.weight = hit ? alpha + c.weight : c.weight;
        c.mean = hit ? d * alpha + c.mean : c.mean;
        c.variance = hit ? (variance < minVariance ? minVariance : variance) : c.variance;
        p = hit ? Ints{} + k : p;
        m.changed |= 1u << k;
        if (all(matched)) break;
    }
    return matched;
}

// Step 3: without a match the last slot in use takes the value, with the
// largest variance present (at least the floor). Returns the total weight.
template <int n>
[[gnu::always_inline]] inline Floats replaceLast(Components<n>& m, Ints replace, Ints& initialized, Floats x,
                                                 Floats alpha, Floats minVariance) {
    Floats largest = minVariance;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) largest = m.c[k].variance > largest ? m.c[k].variance : largest;
    Slot& last = m.c[n - 1];
    const Floats total = initialized ? (1.0f - last.weight) + alpha : alpha;
    last.mean = replace ? x : last.mean;
    last.weight = replace ? alpha : last.weight;
    last.variance = replace ? largest : last.variance;
    m.changed |= 1u << (n - 1);
    initialized |= replace;
    return total;
}

// Steps 4 to 8, with r = 1 / total and the updated component at p.
template <int n>
[[gnu::always_inline]] inline Ints rankAndDecide(Components<n>& m, Floats r, Floats alpha, Ints p) {
    Slot* c = m.c;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        const Ints live = c[k].weight >= alpha;
        if (!any(live)) continue;
        const Floats weight = c[k].weight * r;
        c[k].fitness = live ? weight / c[k].variance : c[k].fitness;
        c[k].weight = live ? weight : c[k].weight;
        m.changed |= 1u << k;
    }
    if (any(p > 0)) {
#pragma GCC unroll 10
        for (int j = n - 1; j > 0; --j) {
            const Ints move = (p == j) & ~(c[j - 1].fitness > c[j].fitness);
            m.swapWhere(move, j - 1, j);
            p = move ? p - 1 : p;
        }
    }
    Ints unordered = {};
#pragma GCC unroll 10
    for (int k = 0; k + 1 < n; ++k) unordered |= c[k + 1].fitness > c[k].fitness;
    if (any(unordered)) {
#pragma GCC unroll 10
        for (int k = 0; k + 1 < n; ++k) m.swapWhere(c[k + 1].fitness > c[k].fitness, k, k + 1);
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
[[gnu::always_inline]] inline Ints updateGroup(Components<n>& m, Ints& initialized, Floats x, Ints included,
                                               const UpdateParams& u) {
    const Floats alpha = Floats{} + u.alpha;
    const Floats minVariance = Floats{} + u.minVariance;
    Ints p = Ints{} + (n - 1);
    const Ints matched = matchFirst<n>(m, x, alpha, minVariance, p);
    // A match always normalises by alpha + 1, whose reciprocal is computed
    // once per row; only replacements need a division per group.
    Floats r = Floats{} + u.matchedScale;
    if (!all(matched)) {
        Ints replaced = initialized;
        const Floats total = replaceLast<n>(m, ~matched, replaced, x, alpha, minVariance);
        initialized = included ? replaced : initialized;
        r = matched ? r : 1.0f / total;
    }
    return rankAndDecide<n>(m, r, alpha, p) & included;
}

// Loads slots 0..n-1 of group g, or stores back those that changed.
template <int n>
[[gnu::always_inline]] inline void loadSlots(const RowJob& job, int g, Components<n>& m) {
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        const PixelModelStore::SlotGroup& s = job.slots[job.planeStride * k + g];
        m.c[k] = {load<Floats>(s.weight), load<Floats>(s.mean), load<Floats>(s.variance), load<Floats>(s.fitness)};
    }
}

template <int n>
[[gnu::always_inline]] inline void storeChangedSlots(const RowJob& job, int g, const Components<n>& m) {
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        if (!(m.changed >> k & 1)) continue;
        PixelModelStore::SlotGroup& s = job.slots[job.planeStride * k + g];
        store(s.weight, m.c[k].weight);
        store(s.mean, m.c[k].mean);
        store(s.variance, m.c[k].variance);
        store(s.fitness, m.c[k].fitness);
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

        Components<n> m;
        loadSlots<n>(job, g, m);
        const unsigned motion = laneBits(updateGroup<n>(m, initialized, x, included, u));
        if (!all(included)) {
            // Excluded and padding lanes keep their models as they were.
            Components<n> old;
            loadSlots<n>(job, g, old);
            for (int k = 0; k < n; ++k) {
                m.c[k] = {included ? m.c[k].weight : old.c[k].weight, included ? m.c[k].mean : old.c[k].mean,
                          included ? m.c[k].variance : old.c[k].variance,
                          included ? m.c[k].fitness : old.c[k].fitness};
            }
        }
        storeChangedSlots<n>(job, g, m);
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
    const float alpha = static_cast<float>(alphaCoeff);
    const UpdateParams u{alpha, static_cast<float>(pixelDeviation * pixelDeviation), 1.0f / (alpha + 1.0f),
                         numGaussElements};
    for (int row = firstRow; row < endRow; ++row) {
        const int64_t offset = int64_t{row} * scaledWidth;
        // A rate whose reciprocal overflows (0 included) would normalise the
        // first frame's weights to infinity or NaN; such a model cannot
        // learn, so it stays as it is and every pixel counts as background.
        if (!std::isfinite(1.0f / alpha)) {
            std::memset(mask.get() + offset, 0, size_t(scaledWidth));
            continue;
        }
        const RowJob job{pixelModels.rowSlots(row), pixelModels.planeStride(), pixelModels.rowInitialized(row),
                         scaledFrame + offset, regionMask ? regionMask + offset : nullptr, mask.get() + offset,
                         scaledWidth};
        updateRow(job, u);
    }
}
