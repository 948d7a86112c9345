// Storage of the background models of all scaled pixels, laid out for the
// vector update rather than as an array of PixelModel records.
//
// The pixels of each row are taken in groups of eight neighbours (the last
// group of a row is padded). Slot k of a group holds the k-th Gaussian
// component of its eight pixels as four runs of eight floats, one per field.
// All groups' slot k form one plane, and the planes follow each other:
//
//     plane 0: group 0 slot 0 | group 1 slot 0 | ...
//     plane 1: group 0 slot 1 | group 1 slot 1 | ...
//     ...
//     plane 9
//
// An update with n components in use streams through planes 0..n-1 only and
// never touches the others, so the memory traffic per pixel follows n rather
// than the capacity of 10; the unused slots keep their contents, exactly as
// they would in a PixelModel record. The initialized flags form one more
// array, a byte per group with bit i for lane i.
#pragma once

#include "detector/background/PixelModel.h"

#include <cstdint>
#include <memory>

namespace motion {

class PixelModelStore {
public:
    static constexpr int lanes = 8;

    // Slot k of one group: the k-th component of eight neighbouring pixels.
    // The ranking fields share one cache line and the shape fields the
    // other, so that an update can read a slot's ranking without its shape.
    struct alignas(64) SlotGroup {
        float weight[lanes];
        float fitness[lanes];
        float mean[lanes];
        float variance[lanes];
    };

    // Replaces the storage with zero-filled (empty) models for a
    // width x height grid. Allocation failure propagates.
    void allocate(int width, int height);
    void release();
    void clear();
    bool allocated() const { return slots != nullptr; }

    // One pixel's model as a record, index = row * width + column.
    PixelModel get(int64_t index) const;
    void set(int64_t index, const PixelModel& model);

    int groupsPerRow() const { return rowGroups; }
    int64_t planeStride() const { return groupCount; }
    // Slot 0 of the first group of a row; slot k is planeStride() * k further.
    SlotGroup* rowSlots(int row) { return slots.get() + int64_t{row} * rowGroups; }
    uint8_t* rowInitialized(int row) { return initialized.get() + int64_t{row} * rowGroups; }

private:
    // Group number and lane of a pixel.
    int64_t group(int64_t index, int& lane) const;

    std::unique_ptr<SlotGroup[]> slots;     // PixelModel::capacity planes of groupCount groups
    std::unique_ptr<uint8_t[]> initialized; // one bit per pixel, a byte per group
    int width = 0;
    int rowGroups = 0;
    int64_t groupCount = 0;
};

} // namespace motion
