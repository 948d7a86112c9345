// Record access and lifetime of the planar model storage.
#include "detector/background/PixelModelStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace motion {

namespace {

// The ranking key of a stored component; see the header for why 0/0 is 0.
float fitnessOf(float weight, float variance) {
    return weight == 0.0f ? 0.0f : weight / variance;
}

// Bitwise, so that a stored -0 is kept too.
bool allZero(const GaussianComponent& c) {
    const float fields[3] = {c.weight, c.mean, c.variance};
    const float zero[3] = {};
    return std::memcmp(fields, zero, sizeof fields) == 0;
}

} // namespace

void PixelModelStore::Mapping::map(size_t size) {
    unmap();
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data = p;
    bytes = size;
}

void PixelModelStore::Mapping::unmap() {
    if (data) munmap(data, bytes);
    data = nullptr;
    bytes = 0;
}

PixelModelStore::~PixelModelStore() {
    release();
}

void PixelModelStore::allocate(int gridWidth, int gridHeight) {
    release();
    const int groups = (gridWidth + lanes - 1) / lanes;
    const int64_t count = int64_t{groups} * gridHeight;
    initialized.map(size_t(count));
    ordered.map(size_t(count));
    liveBound.map(size_t(count));
    width = gridWidth;
    rowGroups = groups;
    groupCount = count;
}

void PixelModelStore::unmapPlanes() {
    for (Mapping& plane : planes) plane.unmap();
    planeCount = 0;
    blank = true;
}

void PixelModelStore::release() {
    unmapPlanes();
    initialized.unmap();
    ordered.unmap();
    liveBound.unmap();
    width = rowGroups = 0;
    groupCount = 0;
}

void PixelModelStore::clear() {
    unmapPlanes();
    std::memset(initialized.data, 0, initialized.bytes);
    std::memset(ordered.data, 0, ordered.bytes);
    std::memset(liveBound.data, 0, liveBound.bytes);
}

bool PixelModelStore::reserve(int components, float alpha, int team) {
    mapPlanes(components, team);
    const bool wasBlank = blank;
    blank = false;
    // Written so that a NaN rate never counts as unchanged.
    if (!(alpha == boundAlpha)) {
        forgetLiveBounds();
        boundAlpha = alpha;
    }
    if (components != orderedComponents) {
        std::memset(ordered.data, 0, ordered.bytes);
        forgetLiveBounds();
        orderedComponents = components;
    }
    return wasBlank;
}

void PixelModelStore::forgetLiveBounds() {
    std::memset(liveBound.data, PixelModel::capacity, liveBound.bytes);
}

void PixelModelStore::mapPlanes(int components, int team) {
    const int first = planeCount;
    for (; planeCount < components; ++planeCount)
        planes[planeCount].map(size_t(groupCount) * (sizeof(RankGroup) + lanes * sizeof(float)));
    populate(first, team);
}

// The pages are made present a stretch per call rather than by two faults
// each during the first update (it reads a slot before it writes it);
// kernels without that call leave them to the faults. The system clears a
// page on the thread that asks for it, so a team shares the stretches out.
// Only then are large pages allowed, for the system to merge them later in
// the background: asked for beforehand, they made the first frame take
// hundreds of milliseconds whenever the system had no large pages at hand
// that had been in use recently (measured on a virtual machine).
void PixelModelStore::populate(int firstPlane, int team) {
    constexpr size_t stretch = size_t{4} << 20;
    const int64_t newPlanes = planeCount - firstPlane;
    if (newPlanes <= 0) return;
    const size_t bytes = planes[firstPlane].bytes;
    const int64_t perPlane = int64_t((bytes + stretch - 1) / stretch);
#pragma omp parallel for schedule(dynamic) num_threads(team) if (team > 1)
    for (int64_t i = 0; i < newPlanes * perPlane; ++i) {
        const size_t from = size_t(i % perPlane) * stretch;
        madvise(planes[firstPlane + i / perPlane].as<char>() + from, std::min(stretch, bytes - from),
                MADV_POPULATE_WRITE);
    }
    for (int k = firstPlane; k < planeCount; ++k) madvise(planes[k].data, bytes, MADV_HUGEPAGE);
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
    for (int k = 0; k < planeCount; ++k) {
        const RankGroup& rank = ranks(k)[g];
        const float w = rank.weight[lane];
        const float v = rank.variance[lane];
        model.components[k] = {w, means(k)[g * lanes + lane], v, fitnessOf(w, v)};
    }
    model.initialized = (initialized.as<uint8_t>()[g] >> lane) & 1;
    return model;
}

void PixelModelStore::set(int64_t index, const PixelModel& model) {
    int used = 0; // components up to the last one that is not all zero
    for (int k = 0; k < PixelModel::capacity; ++k) {
        if (!allZero(model.components[k])) used = k + 1;
    }
    mapPlanes(used, 1);
    blank = false;
    int lane = 0;
    const int64_t g = group(index, lane);
    for (int k = 0; k < planeCount; ++k) {
        const GaussianComponent& c = model.components[k];
        RankGroup& rank = ranks(k)[g];
        rank.weight[lane] = c.weight;
        rank.variance[lane] = c.variance;
        means(k)[g * lanes + lane] = c.mean;
    }
    uint8_t& bits = initialized.as<uint8_t>()[g];
    const uint8_t bit = uint8_t(1u << lane);
    bits = model.initialized ? bits | bit : bits & ~bit;
    ordered.as<uint8_t>()[g] &= uint8_t(~bit);
    liveBound.as<uint8_t>()[g] = PixelModel::capacity;
}

} // namespace motion
