// Storage of the background models of all scaled pixels, laid out for the
// vector update rather than as an array of PixelModel records.
//
// The pixels of each row are taken in groups of eight neighbours (the last
// group of a row is padded). Component k of all pixels forms one plane: an
// array of ranking records, one per group, each the eight weights and then
// the eight variances (one cache line), followed by an array of the eight
// means of each group, the groups in row order:
//
//     plane k: ranking: group 0 (weights, variances) | group 1 | ...
//              means:   group 0 | group 1 | ...
//
// The fitness (the ranking key) is not stored: every write of it is the
// weight divided by the variance stored beside it at that moment, and a
// component whose weight is below the learning rate keeps all three
// unchanged. So it is recomputed from the two, except that an empty slot
// (weight 0 and variance 0) ranks at 0, as the all-zero empty model says.
//
// An update reads a slot's ranking record only where it may change or is
// ranked against another (see the live bound below), and a mean only where
// a value is compared with it: in a quiet scene only the first component's.
// Whole lines per plane, plus the means, keep the memory system streaming;
// separate arrays for the three fields proved slower.
//
// Planes are mapped on first use: memory follows the number of components
// in use rather than the capacity of 10. A new plane comes from fresh zero
// pages of the system, which is exactly the content of slots that were never
// touched, so the first frame pays neither for allocating nor for clearing
// planes it does not use. Planes stay when fewer components are used, so
// the unused slots keep their contents. Until the first update after
// allocate() or clear(), every slot is known to be all zero, so that update
// can work on plane 0 alone instead of streaming all n planes through the
// cache. The initialized flags form one more array, a byte per group with
// bit i for lane i.
//
// A last array, laid out alike, holds the ordered flags: a set bit says that
// the pixel's slots 1..n-1 (n the component count of the last update) rank
// in non-increasing fitness. The ordering pass leaves them so whenever it
// finds them so, and a quiet pixel changes only slot 0; knowing that, the
// update computes only the fitness its comparisons need. A clear bit claims
// nothing, so every change the update does not follow clears it: a new
// component count, a record written by set(), clear().
//
// One more byte per group bounds the slots that can change without being
// matched: every slot k >= the bound has, in every lane of the group
// (excluded and padding lanes too), a weight below the learning rate. Such a
// slot is left exactly as it is unless a value matches it or replaces it, so
// the update need not read it: in a quiet scene it reads slot 0, and slot 1
// to compare the two, of the n in use. A bound is only true for the rate and
// component count it was found with, so a change of either, or a record
// written by set(), makes it unknown (the capacity, which the update takes
// as n). All-zero models keep every slot below any rate that learns, so a
// fresh or cleared store starts at 0.
#pragma once

#include "detector/background/PixelModel.h"

#include <cstddef>
#include <cstdint>

namespace motion {

class PixelModelStore {
public:
    static constexpr int lanes = 8;

    // The ranking fields of one component of one group.
    struct alignas(64) RankGroup {
        float weight[lanes];
        float variance[lanes];
    };

    PixelModelStore() = default;
    ~PixelModelStore();
    PixelModelStore(const PixelModelStore&) = delete;
    PixelModelStore& operator=(const PixelModelStore&) = delete;

    // Replaces the storage with empty models for a width x height grid; no
    // plane is mapped yet. Allocation failure throws std::bad_alloc.
    void allocate(int width, int height);
    void release();
    // Empties every model; planes are returned to the system.
    void clear();
    bool allocated() const { return initialized.data != nullptr; }

    // Readies the store for an update with `components` slots at learning
    // rate `alpha`: maps planes 0..components-1 where missing, their pages
    // made present by an OpenMP team of `team` threads (1: the calling
    // thread alone), clears the ordered flags if the count changed, and
    // forgets the live bounds if the count or the rate changed. Call before
    // an update, not during one: returns whether every slot is still all
    // zero (nothing written since allocate() or clear()), which the update
    // may rely on to read no slot, and from then on counts the store as
    // written. Throws std::bad_alloc on failure.
    bool reserve(int components, float alpha, int team);

    // One pixel's model as a record, index = row * width + column. set()
    // stores weight, mean and variance; the record's fitness is ignored and
    // read back as weight / variance. set() clears the pixel's ordered flag
    // and makes its group's live bound unknown.
    PixelModel get(int64_t index) const;
    void set(int64_t index, const PixelModel& model);

    // Component k of one row, from the row's first group: the ranking
    // records, and the means (group g's lanes at [g * lanes, (g + 1) *
    // lanes)). The plane must be reserved.
    RankGroup* rankRow(int k, int row) const { return ranks(k) + int64_t{row} * rowGroups; }
    float* meanRow(int k, int row) const { return means(k) + int64_t{row} * rowGroups * lanes; }
    uint8_t* rowInitialized(int row) { return initialized.as<uint8_t>() + int64_t{row} * rowGroups; }
    uint8_t* rowOrdered(int row) { return ordered.as<uint8_t>() + int64_t{row} * rowGroups; }
    uint8_t* rowLiveBound(int row) { return liveBound.as<uint8_t>() + int64_t{row} * rowGroups; }

private:
    // Zero-filled memory straight from the system, until unmap().
    struct Mapping {
        void* data = nullptr;
        size_t bytes = 0;
        template <typename T>
        T* as() const { return static_cast<T*>(data); }
        void map(size_t size);
        void unmap();
    };

    // Group number and lane of a pixel.
    int64_t group(int64_t index, int& lane) const;
    RankGroup* ranks(int k) const { return planes[k].as<RankGroup>(); }
    float* means(int k) const { return reinterpret_cast<float*>(ranks(k) + groupCount); }
    void unmapPlanes();
    void mapPlanes(int components, int team);
    void populate(int firstPlane, int team);
    void forgetLiveBounds();

    Mapping planes[PixelModel::capacity]; // ranking records, then means, of component k
    Mapping initialized;                  // one bit per pixel, a byte per group
    Mapping ordered;                      // likewise
    Mapping liveBound;                    // a byte per group
    int planeCount = 0;                   // planes 0..planeCount-1 are mapped
    bool blank = true;                    // no slot written since allocate() or clear()
    int orderedComponents = 0;            // the slot count the ordered flags and live bounds describe
    float boundAlpha = 0.0f;              // the rate the live bounds describe
    int width = 0;
    int rowGroups = 0;
    int64_t groupCount = 0;
};

} // namespace motion
