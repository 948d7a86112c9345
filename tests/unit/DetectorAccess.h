// Test-only access to MotionDetector internals (the class befriends this
// struct), so that tests can set up masks, blobs and tracks directly.
#pragma once

#include "detector/MotionDetector.h"

struct MotionDetectorTestAccess {
    using D = MotionDetector;
    // Pixel models are read and written one record at a time so that tests
    // do not depend on how the detector lays the models out in memory.
    static bool hasModels(const D& d) { return d.pixelModels.allocated(); }
    static PixelModel model(const D& d, int index) { return d.pixelModels.get(index); }
    static void setModel(D& d, int index, const PixelModel& m) { d.pixelModels.set(index, m); }
    static uint8_t* mask(D& d) { return d.mask.get(); }
    static uint8_t* scaledFrame(D& d) { return d.scaledFrame.get(); }
    static int width(const D& d) { return d.width; }
    static int height(const D& d) { return d.height; }
    static int scaledWidth(const D& d) { return d.scaledWidth; }
    static int scaledHeight(const D& d) { return d.scaledHeight; }
    static double pixelDeviation(const D& d) { return d.pixelDeviation; }
    static double alphaCoeff(const D& d) { return d.alphaCoeff; }
    static int maxObjectWidth(const D& d) { return d.maxObjectWidth; }
    static int minObjectWidth(const D& d) { return d.minObjectWidth; }
    static int maxObjectHeight(const D& d) { return d.maxObjectHeight; }
    static int minObjectHeight(const D& d) { return d.minObjectHeight; }
    static double minObjectVelocity(const D& d) { return d.minObjectVelocity; }
    static double maxObjectVelocity(const D& d) { return d.maxObjectVelocity; }
    static int numThreads(const D& d) { return d.numThreads; }
    static int trackDetectionCriterion(const D& d) { return d.trackDetectionCriterion; }
    static int trackResetCriterion(const D& d) { return d.trackResetCriterion; }
    static int minDistanceBetweenObjects(const D& d) { return d.minDistanceBetweenObjects; }
    static int scaleFactor(const D& d) { return d.scaleFactor; }
    static int numGaussElements(const D& d) { return d.numGaussElements; }
    static std::vector<Blob>& blobs(D& d) { return d.blobs; }
    static int& blobCount(D& d) { return d.blobCount; }
    static std::vector<Track>& tracks(D& d) { return d.tracks; }
    static int& nextObjectId(D& d) { return d.nextObjectId; }

    static void updateBackground(D& d, const uint8_t* regionMask) { d.updateBackground(d.scaledFrame.get(), regionMask); }
    static void updateBackgroundParallel(D& d, const uint8_t* regionMask) {
        d.updateBackgroundParallel(d.scaledFrame.get(), regionMask);
    }
    static void extractBlobs(D& d) { d.extractBlobs(); }
    static void updateTracks(D& d) { d.updateTracks(); }
    static float matchScore(const D& d, const Blob& b, const Track& t) { return d.matchScore(b, t); }
    static float speedDissimilarity(float a, float b, float c) { return D::speedDissimilarity(a, b, c); }

    // Only the buffers blob extraction reads and writes, at a scaled size of
    // w x h: lets tests build masks far larger than a modelled frame allows.
    // Scaled buffers of w x h as a frame of that size at factor 1 would
    // allocate them, without feeding a frame.
    static void setExtractionGeometry(D& d, int w, int h) { d.allocateGeometry(w, h, 1); }
    static void updateTrack(const D& d, Track& track, const Blob& blob) { d.updateTrack(track, blob); }
};
