// Record access and lifetime of the planar model storage.
#include "detector/background/PixelModelStore.h"

#include <cstring>

namespace motion {

void PixelModelStore::allocate(int gridWidth, int gridHeight) {
    release();
    const int groups = (gridWidth + lanes - 1) / lanes;
    const int64_t count = int64_t{groups} * gridHeight;
    slots.reset(new SlotGroup[size_t(count) * PixelModel::capacity]);
    initialized.reset(new uint8_t[size_t(count)]);
    width = gridWidth;
    rowGroups = groups;
    groupCount = count;
    clear();
}

void PixelModelStore::release() {
    slots.reset();
    initialized.reset();
    width = rowGroups = 0;
    groupCount = 0;
}

void PixelModelStore::clear() {
    std::memset(static_cast<void*>(slots.get()), 0, size_t(groupCount) * PixelModel::capacity * sizeof(SlotGroup));
    std::memset(initialized.get(), 0, size_t(groupCount));
}

int64_t PixelModelStore::group(int64_t index, int& lane) const {
    const int64_t row = index / width;
    const int column = int(index % width);
    lane = column % lanes;
    return row * rowGroups + column / lanes;
}

PixelModel PixelModelStore::get(int64_t index) const {
    PixelModel model{};
    int lane = 0;
    const int64_t g = group(index, lane);
    for (int k = 0; k < PixelModel::capacity; ++k) {
        const SlotGroup& s = slots[groupCount * k + g];
        model.components[k] = {s.weight[lane], s.mean[lane], s.variance[lane], s.fitness[lane]};
    }
    model.initialized = (initialized[g] >> lane) & 1;
    return model;
}

void PixelModelStore::set(int64_t index, const PixelModel& model) {
    int lane = 0;
    const int64_t g = group(index, lane);
    for (int k = 0; k < PixelModel::capacity; ++k) {
        SlotGroup& s = slots[groupCount * k + g];
        const GaussianComponent& c = model.components[k];
        s.weight[lane] = c.weight;
        s.mean[lane] = c.mean;
        s.variance[lane] = c.variance;
        s.fitness[lane] = c.fitness;
    }
    const uint8_t bit = uint8_t(1u << lane);
    initialized[g] = model.initialized ? initialized[g] | bit : initialized[g] & ~bit;
}

} // namespace motion
