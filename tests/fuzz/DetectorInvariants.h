// What must hold for a MotionDetector between any two calls, whatever was
// fed to it. Shared by the fuzz targets, the soak run and the hostile-input
// tests; each reports a broken invariant in its own way.
#pragma once

#include "tests/unit/DetectorAccess.h"

#include <set>
#include <string>
#include <vector>

namespace detector_invariants {

using A = MotionDetectorTestAccess;

inline bool within(double value, double low, double high) {
    return value >= low && value <= high; // false for NaN
}

inline bool validSide(int side) {
    return side >= 32 && side <= 8192;
}

// Every stored parameter lies in its accepted range (a NaN never does).
inline std::string brokenParameter(const MotionDetector& d) {
    if (!within(A::scaleFactor(d), 1, 8)) return "scale factor out of 1..8";
    if (!within(A::numGaussElements(d), 1, 10)) return "Gaussian count out of 1..10";
    if (!within(A::pixelDeviation(d), 0, 255)) return "pixel deviation out of range";
    if (!within(A::alphaCoeff(d), 0, 1)) return "alpha out of range";
    for (int size : {A::minObjectWidth(d), A::maxObjectWidth(d), A::minObjectHeight(d), A::maxObjectHeight(d)})
        if (!within(size, 1, 8192)) return "object size limit out of range";
    if (!within(A::minObjectVelocity(d), 0, 8192) || !within(A::maxObjectVelocity(d), 0, 8192))
        return "velocity limit out of range";
    if (!within(A::numThreads(d), 0, 255)) return "thread count out of range";
    if (!within(A::trackDetectionCriterion(d), 1, 255)) return "detection criterion out of range";
    if (!within(A::trackResetCriterion(d), 0, 255)) return "reset criterion out of range";
    if (!within(A::minDistanceBetweenObjects(d), 1, 8192)) return "minimum distance out of range";
    return {};
}

inline std::string brokenGeometry(MotionDetector& d) {
    const int w = A::width(d), h = A::height(d);
    if (w == 0 && h == 0) return {};
    if (!validSide(w) || !validSide(h)) return "frame size neither 0 x 0 nor within 32..8192";
    if (A::scaledWidth(d) != w / A::scaleFactor(d) || A::scaledHeight(d) != h / A::scaleFactor(d))
        return "scaled size does not follow frame size and factor";
    if (!A::hasModels(d) || A::mask(d) == nullptr) return "geometry buffers missing";
    const uint8_t* mask = A::mask(d);
    const size_t pixels = size_t(A::scaledWidth(d)) * A::scaledHeight(d);
    for (size_t i = 0; i < pixels; ++i)
        if (mask[i] != 0 && mask[i] != 255) return "mask byte neither 0 nor 255";
    return {};
}

inline std::string brokenTracks(MotionDetector& d) {
    for (const Track& t : A::tracks(d))
        if (t.objectId != -1 && t.objectId < 1) return "track identifier neither -1 nor positive";
    if (A::blobs(d).size() > 10000) return "more blobs than the first pass can hold";
    return {};
}

// Empty when every invariant holds, else what is broken.
inline std::string brokenInvariant(MotionDetector& d) {
    std::string broken = brokenParameter(d);
    if (broken.empty()) broken = brokenGeometry(d);
    if (broken.empty()) broken = brokenTracks(d);
    return broken;
}

// Identifiers handed out by getObjects are positive and distinct.
inline std::string brokenObjects(const std::vector<DetectedObject>& objects) {
    std::set<int> ids;
    for (const DetectedObject& o : objects) {
        if (o.objectId < 1) return "object identifier not positive";
        if (!ids.insert(o.objectId).second) return "object identifier listed twice";
    }
    return {};
}

} // namespace detector_invariants
