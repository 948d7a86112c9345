// The vector kernels of the per-pixel mixture-of-Gaussians background
// update.
//
// Neighbouring pixels are updated together, one per vector lane: eight with
// AVX2, four with SSE2 or NEON. Each lane performs exactly the
// single-precision steps of its own pixel, in the same order; where the
// steps of different pixels branch apart, every lane computes both sides and
// keeps its own by a lane mask. The result is thus bit for bit that of
// updating the pixels one at a time (the plain kernel), on one thread or
// many, on any processor. The code is written in the compilers' generic
// vector types; only gathering a lane mask into bits and widening bytes into
// lanes are written for each instruction set, as the generic code for them
// compiles to a lane at a time.
#include "detector/background/RowKernels.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

// Every helper taking or returning vectors is forced inline: the SSE2 and
// the AVX2 build pass 32-byte vectors differently, so an out-of-line call
// between them would mismatch. No such call exists, hence no ABI concern.
#pragma GCC diagnostic ignored "-Wpsabi"

#define LANE_INLINE [[gnu::always_inline]] inline

// A slot is read from memory only when a step needs it (Components below),
// and flags record which ones are; the compiler cannot follow the flags and
// warns that unread slots may be used. They are not, and filling them with
// placeholders to quiet the warning cost instructions in every group.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace motion {

namespace {

constexpr int groupLanes = PixelModelStore::lanes;
constexpr float backgroundWeight = 0.7f; // weight share that counts as background

// Vector types and lane-mask helpers for W lanes. Masks hold -1 (true) or 0.
template <int W>
struct Lanes;

template <>
struct Lanes<4> {
    typedef float F __attribute__((vector_size(16)));
    typedef int32_t I __attribute__((vector_size(16)));
    static constexpr int width = 4;
    static constexpr I laneBit = {1, 2, 4, 8};
#if defined(__x86_64__)
    LANE_INLINE static unsigned bits(I m) { return unsigned(_mm_movemask_ps(__m128(m))); }
    // Bytes 0..3 of `bytes` in the lanes, by unpacking: converting a vector
    // of bytes instead goes through the stack a byte at a time.
    LANE_INLINE static I widen(int64_t bytes) {
        const __m128i zero = _mm_setzero_si128();
        return I(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(bytes), zero), zero));
    }
#elif defined(__aarch64__)
    LANE_INLINE static unsigned bits(I m) { return vaddvq_u32(vandq_u32(uint32x4_t(m), uint32x4_t(laneBit))); }
    LANE_INLINE static I widen(int64_t bytes) {
        return I(vmovl_u16(vget_low_u16(vmovl_u8(vcreate_u8(uint64_t(bytes))))));
    }
#endif
};

#if defined(__x86_64__)
template <>
struct Lanes<8> {
    typedef float F __attribute__((vector_size(32)));
    typedef int32_t I __attribute__((vector_size(32)));
    static constexpr int width = 8;
    static constexpr I laneBit = {1, 2, 4, 8, 16, 32, 64, 128};
    // With GCC one instruction, where two half-width ones and their joining
    // take five in every lane test. The intrinsic cannot be inlined into
    // these helpers, which are compiled without AVX (only the AVX2 kernel
    // runs this); clang refuses the wide operand there, so it takes halves.
    LANE_INLINE static unsigned bits(I m) {
#if defined(__GNUC__) && !defined(__clang__)
        unsigned b;
        asm("vmovmskps %1, %0" : "=r"(b) : "x"(m));
        return b;
#else
        __m128 halves[2];
        std::memcpy(halves, &m, sizeof halves);
        return unsigned(_mm_movemask_ps(halves[0])) | unsigned(_mm_movemask_ps(halves[1])) << 4;
#endif
    }
    // Bytes 0..7 of `bytes` in the lanes: with GCC the one instruction made
    // for it, otherwise unpacked in halves that are then joined in registers
    // (seven instructions, for every group).
    LANE_INLINE static I widen(int64_t bytes) {
#if defined(__GNUC__) && !defined(__clang__)
        I lanes;
        asm("vpmovzxbd %1, %0" : "=x"(lanes) : "x"(_mm_cvtsi64_si128(bytes)));
        return lanes;
#else
        using Half = Lanes<4>::I;
        const __m128i zero = _mm_setzero_si128();
        const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi64_si128(bytes), zero);
        return __builtin_shufflevector(Half(_mm_unpacklo_epi16(words, zero)), Half(_mm_unpackhi_epi16(words, zero)),
                                       0, 1, 2, 3, 4, 5, 6, 7);
#endif
    }
};
#endif

// Most groups take the same path in every lane (all matched by their first
// component, nothing to re-rank), so the steps below skip work that no lane
// needs; the results are unchanged.
template <typename I>
LANE_INLINE bool any(I m) {
    return Lanes<sizeof(I) / 4>::bits(m) != 0;
}

template <typename I>
LANE_INLINE bool all(I m) {
    return Lanes<sizeof(I) / 4>::bits(m) == (1u << sizeof(I) / 4) - 1;
}

// Lane-wise mask ? a : b, spelt out in bit operations: the conditional
// operator on vectors is split into single elements for the SSE2 baseline.
template <typename I, typename V>
LANE_INLINE V select(I mask, V a, V b) {
    return V((mask & I(a)) | (~mask & I(b)));
}

template <typename V>
LANE_INLINE typename V::I maskOfBits(unsigned bits) {
    return ((typename V::I{} + int32_t(bits)) & V::laneBit) != 0;
}

template <typename T>
LANE_INLINE T load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
LANE_INLINE void store(void* p, const T& v) {
    std::memcpy(p, &v, sizeof v);
}

// 255 in byte i for each set bit i: the motion decisions of a group.
struct ByteSpread {
    uint64_t bytes[1 << groupLanes];
    constexpr ByteSpread() : bytes() {
        for (unsigned bits = 0; bits < (1u << groupLanes); ++bits)
            for (int i = 0; i < groupLanes; ++i)
                if (bits >> i & 1) bytes[bits] |= uint64_t{0xff} << (8 * i);
    }
};
constexpr ByteSpread byteSpread;

// The values of UpdateParams in every lane, made once per row rather than
// for every group.
template <typename V>
struct LaneParams {
    typename V::F alpha, minVariance, matchedScale;
    LANE_INLINE explicit LaneParams(const UpdateParams& u)
        : alpha(typename V::F{} + u.alpha), minVariance(typename V::F{} + u.minVariance),
          matchedScale(typename V::F{} + u.matchedScale) {}
};

// One component of the pixels in the lanes.
template <typename V>
struct Slot {
    typename V::F weight, mean, variance, fitness;
};

// The first n components of the pixels in the lanes, held in registers while
// they are updated. Memory traffic decides the speed, so a slot is read only
// when a step needs it, its mean only where a value is compared with it, and
// only what changed is written back. The slots from the group's live bound
// on (see PixelModelStore) change only when matched or replaced, and both
// read them first, so the steps that touch every slot in use (normalising,
// finding the live bound again) skip those not read. In a quiet scene most
// pixels match their first component, and only slot 0, and slot 1 for the
// ranking, are read. The fitness is not stored; it is computed once the
// weights are normalised, for the slots that a comparison of the ranking
// needs.
template <int n, typename V>
struct Components {
    using F = typename V::F;
    Slot<V> c[n];
    const RowJob& job;
    const int g, offset;
    unsigned rankLoaded = 0, meanLoaded = 0, weightChanged = 0, shapeChanged = 0; // bit k: slot k
    const int liveBound;                                                           // at most n

    static constexpr int varianceOffset = offsetof(PixelModelStore::RankGroup, variance) / sizeof(float);

    // Slots 0..n-1 of the lanes from `offset` in group g, none read yet.
    LANE_INLINE Components(const RowJob& row, int group, int firstLane, int bound)
        : job(row), g(group), offset(firstLane), liveBound(bound) {}

    // The variances follow the weights by a group's lanes.
    LANE_INLINE float* weightAt(int k) const { return job.ranks[k][g].weight + offset; }
    LANE_INLINE float* meanAt(int k) const { return job.means[k] + g * groupLanes + offset; }

    // Reads slot k's weight and variance, and its mean too withMean, unless
    // read before.
    LANE_INLINE void need(int k, bool withMean = false) {
        if (!(rankLoaded >> k & 1)) {
            c[k].weight = load<F>(weightAt(k));
            c[k].variance = load<F>(weightAt(k) + varianceOffset);
            rankLoaded |= 1u << k;
        }
        if (withMean && !(meanLoaded >> k & 1)) {
            c[k].mean = load<F>(meanAt(k));
            meanLoaded |= 1u << k;
        }
    }

    // False for a slot whose weight is below the learning rate in every lane
    // and that no step has read.
    LANE_INLINE bool mayBeLive(int k) const { return k < liveBound || (rankLoaded >> k & 1); }

    // 1 + the last slot at or above the learning rate in any lane, or 0. The
    // slots below the bound must have been read, and excluded lanes restored.
    LANE_INLINE int boundAfterUpdate(typename V::F alpha) const {
#pragma GCC unroll 10
        for (int k = n - 1; k >= 0; --k)
            if ((rankLoaded >> k & 1) && any(c[k].weight >= alpha)) return k + 1;
        return 0;
    }

    // Slots from..to-1, once their weights are normalised. An empty slot's
    // 0 / 0 ranks at 0.
    LANE_INLINE void computeFitness(int from, int to) {
#pragma GCC unroll 10
        for (int k = from; k < to; ++k) {
            need(k);
            c[k].fitness = select(c[k].weight == 0.0f, F{}, c[k].weight / c[k].variance);
        }
    }

    LANE_INLINE void swapWhere(typename V::I chosen, int i, int j) {
        if (!any(chosen)) return;
        need(i, true);
        need(j, true);
        Slot<V>& a = c[i];
        Slot<V>& b = c[j];
        const Slot<V> oldA = a;
        a.weight = select(chosen, b.weight, a.weight);
        a.mean = select(chosen, b.mean, a.mean);
        a.variance = select(chosen, b.variance, a.variance);
        a.fitness = select(chosen, b.fitness, a.fitness);
        b.weight = select(chosen, oldA.weight, b.weight);
        b.mean = select(chosen, oldA.mean, b.mean);
        b.variance = select(chosen, oldA.variance, b.variance);
        b.fitness = select(chosen, oldA.fitness, b.fitness);
        weightChanged |= 1u << i | 1u << j;
        shapeChanged |= 1u << i | 1u << j;
    }

    // Lanes outside `keep` get back the values in memory.
    LANE_INLINE void restoreOutside(typename V::I keep) {
#pragma GCC unroll 10
        for (int k = 0; k < n; ++k) {
            if (rankLoaded >> k & 1) {
                c[k].weight = select(keep, c[k].weight, load<F>(weightAt(k)));
                c[k].variance = select(keep, c[k].variance, load<F>(weightAt(k) + varianceOffset));
            }
            if (meanLoaded >> k & 1) c[k].mean = select(keep, c[k].mean, load<F>(meanAt(k)));
        }
    }

    LANE_INLINE void storeChanged() const {
#pragma GCC unroll 10
        for (int k = 0; k < n; ++k) {
            if (weightChanged >> k & 1) store(weightAt(k), c[k].weight);
            if (shapeChanged >> k & 1) {
                store(meanAt(k), c[k].mean);
                store(weightAt(k) + varianceOffset, c[k].variance);
            }
        }
    }
};

// The lanes where x lies within 2.5 deviations of slot k; d gets x minus
// the slot's mean.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE I near(Components<n, V>& m, int k, F x, F& d) {
    m.need(k, true);
    const Slot<V>& c = m.c[k];
    d = x - c.mean;
    return c.variance * matchFactor > d * d;
}

// Slot k takes the value in the lanes `hit`; d as near() gave it.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE void takeValue(Components<n, V>& m, int k, I hit, F d, F alpha, F minVariance) {
    Slot<V>& c = m.c[k];
    const F variance = (d * d - c.variance) * alpha + c.variance;
    c.weight = select(hit, alpha + c.weight, c.weight);
    c.mean = select(hit, d * alpha + c.mean, c.mean);
    c.variance = select(hit, select(variance < minVariance, minVariance, variance), c.variance);
    m.weightChanged |= 1u << k;
    m.shapeChanged |= 1u << k;
}

// Match: the first component within 2.5 deviations of x takes the value.
// Returns the lanes that matched; p gets the matched position there.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE I matchFirst(Components<n, V>& m, F x, F alpha, F minVariance, I& p) {
    I matched = {};
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        F d;
        const I hit = near(m, k, x, d) & ~matched;
        if (!any(hit)) continue;
        matched |= hit;
        takeValue(m, k, hit, d, alpha, minVariance);
        p = select(hit, I{} + k, p);
        if (all(matched)) break;
    }
    return matched;
}

// No match: the last slot in use takes the value, with the largest variance
// present (at least the floor). Returns the total weight to normalise by.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE F replaceLast(Components<n, V>& m, I replace, I& initialized, F x, F alpha, F minVariance) {
    F largest = minVariance;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        m.need(k);
        largest = select(m.c[k].variance > largest, m.c[k].variance, largest);
    }
    m.need(n - 1, true);
    Slot<V>& last = m.c[n - 1];
    const F total = select(initialized, (1.0f - last.weight) + alpha, alpha);
    last.mean = select(replace, x, last.mean);
    last.weight = select(replace, alpha, last.weight);
    last.variance = select(replace, largest, last.variance);
    m.weightChanged |= 1u << (n - 1);
    m.shapeChanged |= 1u << (n - 1);
    initialized |= replace;
    return total;
}

// Slot k's weight times r in the lanes where it is at or above the learning
// rate; returns those lanes.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE I normalise(Components<n, V>& m, int k, F r, F alpha) {
    m.need(k);
    Slot<V>& c = m.c[k];
    const I live = c.weight >= alpha;
    if (any(live)) {
        c.weight = select(live, c.weight * r, c.weight);
        m.weightChanged |= 1u << k;
    }
    return live;
}

// One bubbling pass: each slot changes places with the next where that one
// ranks strictly higher.
template <int n, typename V>
LANE_INLINE void orderingPass(Components<n, V>& m) {
#pragma GCC unroll 10
    for (int k = 0; k + 1 < n; ++k) m.swapWhere(m.c[k + 1].fitness > m.c[k].fitness, k, k + 1);
}

// Normalises the weights by r = 1 / total, moves the updated component at p
// ahead of every component with no greater fitness, makes one ordering pass,
// and returns the lanes where p lies beyond the components that make up the
// background weight: motion.
//
// Components below the learning rate keep their weight; every fitness is
// then the weight over the variance, which for the normalised ones is the
// value the normalisation computes, and for the others the value computed
// when their weight was last written. The background weight is summed only
// until every lane has found its last background slot: later terms cannot
// move it.
//
// tailOrdered holds the lanes whose slots 1..n-1 rank in order, and receives
// the lanes where they do after the update. Where they do and only slot 0
// changed (matched first, no other weight normalised), the re-ranking has
// nothing to do, and the ordering pass can only move slot 0 down past the
// slots that rank higher, which leaves all n in order; unless slot 1 ranks
// above slot 0 it changes nothing. In a quiet scene that holds in every
// lane, and two divisions replace n.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE I rankAndDecide(Components<n, V>& m, F r, F alpha, I p, I& tailOrdered) {
    Slot<V>* c = m.c;
    I tailChanged = p != 0;
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        if (!m.mayBeLive(k)) continue;
        const I live = normalise(m, k, r, alpha);
        if (k > 0) tailChanged |= live;
    }
    if (all(tailOrdered & ~tailChanged)) {
        m.computeFitness(0, n < 2 ? n : 2);
        if (n > 1 && any(c[1].fitness > c[0].fitness)) {
            m.computeFitness(2, n);
            orderingPass(m);
        }
        tailOrdered = ~I{};
    } else {
        m.computeFitness(0, n);
        if (any(p > 0)) {
#pragma GCC unroll 10
            for (int j = n - 1; j > 0; --j) {
                const I move = (p == j) & ~(c[j - 1].fitness > c[j].fitness);
                m.swapWhere(move, j - 1, j);
                p = select(move, p - 1, p);
            }
        }
        I unordered = {};
#pragma GCC unroll 10
        for (int k = 0; k + 1 < n; ++k) unordered |= c[k + 1].fitness > c[k].fitness;
        if (any(unordered)) orderingPass(m);
        tailOrdered = ~I{};
#pragma GCC unroll 10
        for (int k = 1; k + 1 < n; ++k) tailOrdered &= ~(c[k + 1].fitness > c[k].fitness);
    }
    F sum = {};
    I found = {};
    I b = I{} + (n - 1);
#pragma GCC unroll 10
    for (int k = 0; k < n; ++k) {
        m.need(k);
        sum = sum + c[k].weight;
        const I stop = (sum > backgroundWeight) & ~found;
        b = select(stop, I{} + k, b);
        found |= stop;
        if (all(found)) break;
    }
    return p > b;
}

// Updates the models of the lanes' pixels with their grey values x; lanes
// outside `included` keep their models untouched. Returns the motion lanes;
// tailOrdered as for rankAndDecide.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE I updateLanes(Components<n, V>& m, I& initialized, I& tailOrdered, F x, I included,
                          const LaneParams<V>& u) {
    const F alpha = u.alpha;
    const F minVariance = u.minVariance;
    I p = I{} + (n - 1);
    const I matched = matchFirst(m, x, alpha, minVariance, p);
    // A match always normalises by alpha + 1, whose reciprocal is computed
    // once per row; only replacements need a division per group.
    F r = u.matchedScale;
    if (!all(matched)) {
        I replaced = initialized;
        const F total = replaceLast(m, ~matched, replaced, x, alpha, minVariance);
        initialized = select(included, replaced, initialized);
        r = select(matched, r, 1.0f / total);
    }
    return rankAndDecide(m, r, alpha, p, tailOrdered) & included;
}

// W bytes as floats.
template <typename V>
LANE_INLINE typename V::F loadValues(const uint8_t* p) {
    int64_t bytes = 0;
    std::memcpy(&bytes, p, V::width);
    return __builtin_convertvector(V::widen(bytes), typename V::F);
}

// The bytes kept beside a group's models, as its parts read and update them.
struct GroupFlags {
    unsigned initialized; // bit i: lane i
    unsigned ordered;     // likewise
    int liveBound;        // as read, at most n
    int newLiveBound;     // the largest found by the parts so far
};

// The bytes of one group's pixels, from its first.
struct GroupPixels {
    const uint8_t* frame;
    const uint8_t* regionMask; // null: every pixel included
    uint8_t* mask;
};

// The lanes of the group's pixels offset .. offset + W - 1 that the region
// mask includes.
template <typename V>
LANE_INLINE typename V::I includedLanes(const GroupPixels& px, int offset) {
    typename V::I included = maskOfBits<V>((1u << V::width) - 1);
    if (px.regionMask) included &= loadValues<V>(px.regionMask + offset) != 0.0f;
    return included;
}

// The quiet case of updateLanes, which most groups of a steady scene are in,
// with the steps it needs and none of the bookkeeping of the others: all W
// lanes included, slots 1..n-1 ranked in order and below the learning rate
// (live bound at most 1), every lane matched by slot 0, and slot 1 ranking
// no higher than slot 0 once the weights are normalised. Then only slot 0
// changes, the ranking stays as it is, and no lane is motion: the matched
// slot ranks first, and the background always takes in the first slot.
// The caller has checked the flags; returns false, having stored nothing,
// where the values do not fit the case, and the general update then starts
// afresh from memory.
template <int n, typename V, typename F = typename V::F, typename I = typename V::I>
LANE_INLINE bool updateQuiet(const RowJob& job, int g, int offset, F x, GroupFlags& flags, const LaneParams<V>& u) {
    const F alpha = u.alpha;
    Components<n, V> m(job, g, offset, flags.liveBound);
    F d;
    const I hit = near(m, 0, x, d);
    if (!all(hit)) return false;
    takeValue(m, 0, hit, d, alpha, u.minVariance);
    normalise(m, 0, u.matchedScale, alpha);
    if (n > 1) {
        m.computeFitness(0, 2);
        if (any(m.c[1].fitness > m.c[0].fitness)) return false;
    }
    m.storeChanged();
    flags.newLiveBound = std::max(flags.newLiveBound, m.boundAfterUpdate(alpha));
    return true;
}

// The pixels offset .. offset + W - 1 of group g. Updates the group's flags
// and returns the motion bits, all counted from the group's first pixel.
template <int n, typename V>
LANE_INLINE unsigned updatePart(const RowJob& job, int g, const GroupPixels& px, int offset, GroupFlags& flags,
                                const LaneParams<V>& u) {
    using I = typename V::I;
    const typename V::F x = loadValues<V>(px.frame + offset);
    constexpr unsigned allLanes = (1u << V::width) - 1;
    if (flags.liveBound <= 1 && (flags.ordered >> offset & allLanes) == allLanes &&
        (!px.regionMask || all(includedLanes<V>(px, offset))) && updateQuiet<n, V>(job, g, offset, x, flags, u))
        return 0;
    const I included = includedLanes<V>(px, offset);
    I initialized = maskOfBits<V>(flags.initialized >> offset);
    const I wasOrdered = maskOfBits<V>(flags.ordered >> offset);
    I tailOrdered = wasOrdered | ~included; // lanes that keep their models need no comparisons
    Components<n, V> m(job, g, offset, flags.liveBound);
    const I motion = updateLanes(m, initialized, tailOrdered, x, included, u);
    if (!all(included)) m.restoreOutside(included); // excluded and padding lanes keep their models
    m.storeChanged();
    const unsigned partBits = allLanes << offset;
    flags.initialized = (flags.initialized & ~partBits) | V::bits(initialized) << offset;
    flags.ordered = (flags.ordered & ~partBits) | V::bits(select(included, tailOrdered, wasOrdered)) << offset;
    flags.newLiveBound = std::max(flags.newLiveBound, m.boundAfterUpdate(u.alpha));
    return V::bits(motion) << offset;
}

// Group g, in parts of W lanes.
template <int n, int W>
LANE_INLINE void updateGroup(const RowJob& job, int g, const GroupPixels& px, const LaneParams<Lanes<W>>& u) {
    GroupFlags flags{job.initialized[g], job.ordered[g], std::min<int>(job.liveBound[g], n), 0};
    unsigned motion = 0;
    for (int offset = 0; offset < groupLanes; offset += W) motion |= updatePart<n, Lanes<W>>(job, g, px, offset, flags, u);
    job.initialized[g] = uint8_t(flags.initialized);
    job.ordered[g] = uint8_t(flags.ordered);
    job.liveBound[g] = uint8_t(flags.newLiveBound);
    std::memcpy(px.mask, &byteSpread.bytes[motion], groupLanes);
}

// The whole row, group by group. A last group that the row does not fill
// is taken through copies of its bytes, its padding lanes excluded (the
// update never changes them from empty), so that all groups share code
// made for a whole group.
template <int n, int W>
LANE_INLINE void updateRowGroups(const RowJob& rowJob, const UpdateParams& params) {
    // A copy that no store of the models can alias: the compiler keeps its
    // pointers in registers instead of loading them again after every store.
    const RowJob job = rowJob;
    const LaneParams<Lanes<W>> u(params);
    const int fullGroups = job.width / groupLanes;
    const int rest = job.width % groupLanes;
    const int x1 = fullGroups * groupLanes;
    uint8_t restFrame[groupLanes] = {}, restIncluded[groupLanes] = {}, restMask[groupLanes];
    std::memcpy(restFrame, job.frame + x1, size_t(rest));
    for (int i = 0; i < rest; ++i) restIncluded[i] = job.regionMask ? job.regionMask[x1 + i] : 1;
    for (int g = 0; g < fullGroups + (rest != 0); ++g) {
        const int x0 = g * groupLanes;
        const GroupPixels px = g < fullGroups ? GroupPixels{job.frame + x0, job.regionMask ? job.regionMask + x0 : nullptr,
                                                            job.mask + x0}
                                              : GroupPixels{restFrame, restIncluded, restMask};
        updateGroup<n, W>(job, g, px, u);
    }
    std::memcpy(job.mask + x1, restMask, size_t(rest));
}

// Instantiates the kernel for every component count and picks the one in use.
template <int W, int... counts>
LANE_INLINE void updateRowFor(const RowJob& job, const UpdateParams& u, std::integer_sequence<int, counts...>) {
    ((u.components == counts + 1 ? updateRowGroups<counts + 1, W>(job, u) : void()), ...);
}

constexpr auto everyCount = std::make_integer_sequence<int, PixelModel::capacity>();

} // namespace

// The kernel built for each instruction set of the target.
#if defined(__x86_64__)
void updateRowSse2(const RowJob& job, const UpdateParams& u) {
    updateRowFor<4>(job, u, everyCount);
}

__attribute__((target("avx2"))) void updateRowAvx2(const RowJob& job, const UpdateParams& u) {
    updateRowFor<8>(job, u, everyCount);
}
#elif defined(__aarch64__)
void updateRowNeon(const RowJob& job, const UpdateParams& u) {
    updateRowFor<4>(job, u, everyCount);
}
#endif

#pragma GCC diagnostic pop

} // namespace motion
