// The plain kernel: every pixel's model taken out of the store as a record,
// updated step by step, and put back.
#include "detector/background/PixelModel.h"
#include "detector/background/RowKernels.h"

#include <algorithm>
#include <utility>

namespace motion {

bool updatePixelModel(PixelModel& model, uint8_t value, float alpha, float minVariance, int n) {
    GaussianComponent* C = model.components;
    const float x = value;
    float total = 1.0f;
    int p = -1;
    for (int k = 0; k < n && p < 0; ++k) {
        const float d = x - C[k].mean;
        if (C[k].variance * matchFactor > d * d) {
            C[k].weight = alpha + C[k].weight;
            C[k].mean = d * alpha + C[k].mean;
            C[k].variance = (d * d - C[k].variance) * alpha + C[k].variance;
            if (C[k].variance < minVariance) C[k].variance = minVariance;
            total = alpha + 1.0f;
            p = k;
        }
    }
    if (p < 0) {
        float vmax = minVariance;
        for (int k = 0; k < n; ++k) vmax = std::max(vmax, C[k].variance);
        if (model.initialized)
            total = (1.0f - C[n - 1].weight) + alpha;
        else
            total = alpha;
        C[n - 1].mean = x;
        C[n - 1].weight = alpha;
        C[n - 1].variance = vmax;
        model.initialized = true;
        p = n - 1;
    }
    const float r = 1.0f / total;
    for (int k = 0; k < n; ++k) {
        if (C[k].weight >= alpha) {
            C[k].weight = C[k].weight * r;
            C[k].fitness = C[k].weight / C[k].variance;
        }
    }
    while (p > 0 && !(C[p - 1].fitness > C[p].fitness)) {
        std::swap(C[p - 1], C[p]);
        --p;
    }
    for (int k = 0; k <= n - 2; ++k)
        if (C[k + 1].fitness > C[k].fitness) std::swap(C[k], C[k + 1]);
    float s = 0.0f;
    int b = -1;
    while (b < n - 1) {
        b = b + 1;
        s = s + C[b].weight;
        if (s > 0.7f) break;
    }
    return p > b;
}

// The store keeps no fitness: it is the weight over the variance, 0 for an
// empty slot (see PixelModelStore.h).
void updateRowPlain(const RowJob& job, const UpdateParams& u) {
    constexpr int lanes = PixelModelStore::lanes;
    const int n = u.components;
    for (int x = 0; x < job.width; ++x) {
        if (job.regionMask && !job.regionMask[x]) {
            job.mask[x] = 0;
            continue;
        }
        const int g = x / lanes, lane = x % lanes;
        const uint8_t bit = uint8_t(1u << lane);
        PixelModel model{};
        for (int k = 0; k < n; ++k) {
            GaussianComponent& c = model.components[k];
            c.weight = job.ranks[k][g].weight[lane];
            c.variance = job.ranks[k][g].variance[lane];
            c.mean = job.means[k][x];
            c.fitness = c.weight == 0.0f ? 0.0f : c.weight / c.variance;
        }
        model.initialized = job.initialized[g] & bit;
        job.mask[x] = updatePixelModel(model, job.frame[x], u.alpha, u.minVariance, n) ? 255 : 0;
        for (int k = 0; k < n; ++k) {
            const GaussianComponent& c = model.components[k];
            job.ranks[k][g].weight[lane] = c.weight;
            job.ranks[k][g].variance[lane] = c.variance;
            job.means[k][x] = c.mean;
        }
        if (model.initialized) job.initialized[g] |= bit;
        // Whether the later slots now rank in order is not worked out here:
        // a clear flag claims nothing.
        job.ordered[g] &= uint8_t(~bit);
    }
    // Nor is the live bound: the capacity stands for unknown.
    const int groups = (job.width + lanes - 1) / lanes;
    std::fill(job.liveBound, job.liveBound + groups, uint8_t(PixelModel::capacity));
}

} // namespace motion
