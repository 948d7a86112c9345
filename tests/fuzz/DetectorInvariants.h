// What must hold for a MotionDetector between any two calls, whatever was
// fed to it. Shared by the fuzz targets, the soak run and the hostile-input
// tests; each reports a broken invariant in its own way.
#pragma once

#include "detector/DetectorStages.h"

#include <set>
#include <string>
#include <vector>

namespace detector_invariants {

inline bool validSide(int side) {
    return side >= 32 && side <= 8192;
}

// Every stored parameter lies in its accepted range (a NaN never does).
inline std::string brokenParameter(const MotionDetector& d) {
    for (const motion::Parameter& parameter : motion::parameterTable)
        if (!parameter.accepts(d.getParam(parameter.id))) return std::string(parameter.key) + " out of range";
    return {};
}

inline std::string brokenGeometry(MotionDetector& d) {
    const MotionDetector::Impl& stages = stagesOf(d);
    const int w = stages.width, h = stages.height;
    const int factor = int(d.getParam(SCALE_FACTOR));
    if (w == 0 && h == 0) return {};
    if (!validSide(w) || !validSide(h)) return "frame size neither 0 x 0 nor within 32..8192";
    if (stages.scaledWidth != w / factor || stages.scaledHeight != h / factor)
        return "scaled size does not follow frame size and factor";
    if (!stages.background.allocated() || stages.background.mask() == nullptr) return "geometry buffers missing";
    const uint8_t* mask = stages.background.mask();
    const size_t pixels = size_t(stages.scaledWidth) * stages.scaledHeight;
    for (size_t i = 0; i < pixels; ++i)
        if (mask[i] != 0 && mask[i] != 255) return "mask byte neither 0 nor 255";
    return {};
}

inline std::string brokenTracks(MotionDetector& d) {
    for (const motion::Track& t : stagesOf(d).tracker.tracks())
        if (t.objectId != -1 && t.objectId < 1) return "track identifier neither -1 nor positive";
    if (stagesOf(d).blobs.blobs().size() > size_t(motion::BlobExtractor::maxBlobs))
        return "more blobs than the first pass can hold";
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
