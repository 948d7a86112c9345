// MotionDetector: per-pixel mixture-of-Gaussians background model, blob
// extraction and blob tracking on downscaled grey frames.
//
// Typical use, once per frame:
//
//     MotionDetector detector;
//     detector.setParam(SCALE_FACTOR, 2);
//     detector.processFrame(grey, width, height, nullptr);
//     detector.getMotionMask(maskBuffer);              // width * height bytes
//     for (const DetectedObject& o : detector.getObjects()) draw(o);
//
// The detector is not thread-safe: call it from one thread. Internally the
// background update may run on an OpenMP team (see NUM_THREADS).
#pragma once

#include "detector/PixelModelStore.h"

#include <cstdint>
#include <memory>
#include <vector>

// Parameter identifiers accepted by MotionDetector::setParam. Each matches one
// numeric key of the configuration file.
enum MotionDetectorParam {
    PIXEL_DEVIATION = 3,                   // 0..255 grey levels, default 10
    ALPHA_COEFF = 4,                       // 0..1, default 0.01
    MIN_OBJECT_WIDTH = 5,                  // 1..8192 full-frame pixels, default 2
    MAX_OBJECT_WIDTH = 6,                  // 1..8192, default 128
    MIN_OBJECT_HEIGHT = 7,                 // 1..8192, default 2
    MAX_OBJECT_HEIGHT = 8,                 // 1..8192, default 128
    MIN_OBJECT_VELOCITY = 9,               // 0..8192 scaled pixels per frame, default 0.1
    MAX_OBJECT_VELOCITY = 10,              // 0..8192 scaled pixels per frame, default 20
    NUM_THREADS = 11,                      // 0..255, default 1 (0: runtime's choice)
    TRACK_DETECTION_CRITERION = 12,        // 1..255 frames, default 15
    TRACK_RESET_CRITERION = 13,            // 0..255 frames, default 5
    MIN_DISTANCE_BETWEEN_OBJECTS = 14,     // 1..8192 scaled pixels, default 16
    SCALE_FACTOR = 15,                     // 1..8, default 1
    NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL = 16 // 1..10, default 5
};

// One weighted Gaussian of a pixel's background mixture.
struct GaussianComponent {
    float weight;
    float mean;
    float variance;
    float fitness; // weight / variance (0 when both are 0): the ranking key
};

// Background model of one scaled pixel: components ranked most probable
// background first. All zero is the valid empty state.
struct PixelModel {
    static constexpr int capacity = PixelModelStore::capacity;
    GaussianComponent components[capacity];
    bool initialized;
};

// One region of motion, in scaled pixel coordinates (box edges inclusive).
struct Blob {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
    int32_t pixelCount;
    int32_t intensitySum;
    int32_t label;
    float centroidX;
    float centroidY;
    float reserved;
};

// One tracked object. Fields x0..reserved are a copy of the blob last taken
// over; x0..velocityY are what the object report hands out.
struct Track {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
    int32_t pixelCount;
    int32_t intensitySum;
    int32_t label;
    float centroidX;
    float centroidY;
    float reserved;
    int32_t objectId; // -1 until first reported
    float velocityX;
    float velocityY;
    int32_t directionCountX;
    int32_t directionCountY;
    int32_t missCount;
    float prevCentroidX; // +infinity until first corrected or coasted
    float prevCentroidY;
    float varianceX;
    float varianceY;
};

// A reported object in full-frame units.
struct DetectedObject {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
    int32_t pixelCount;
    int32_t intensitySum;
    int32_t label;
    float centroidX;
    float centroidY;
    float reserved;
    int32_t objectId; // at least 1
    float velocityX;
    float velocityY;
};

class MotionDetector {
public:
    MotionDetector();
    ~MotionDetector();
    MotionDetector(const MotionDetector&) = delete;
    MotionDetector& operator=(const MotionDetector&) = delete;

    // Stores a parameter (a MotionDetectorParam). Returns false and changes
    // nothing for an unknown id or a value outside the id's range.
    bool setParam(int id, double value);

    // Feeds one 8-bit grey frame, width * height bytes with packed rows.
    // regionMask, when not null, holds one byte per scaled pixel; 0 excludes
    // the pixel. Returns false, changing nothing, when the size is outside
    // 32..8192 or not a multiple of the scale factor.
    bool processFrame(const uint8_t* frame, int width, int height, const uint8_t* regionMask);

    // Writes the motion mask of the last accepted frame at full size
    // (width * height bytes, 255 motion, 0 background). Writes nothing before
    // the first accepted frame.
    void getMotionMask(uint8_t* dst);

    // Returns the tracks that qualify as objects in this frame, giving new
    // ones an identifier. Not a pure query: identifiers are handed out here.
    std::vector<DetectedObject> getObjects();

    // Forgets the background, the blobs and the tracks; identifiers restart at 1.
    void reset();

private:
    friend struct MotionDetectorTestAccess; // unit tests reach internals through this

    static constexpr int maxBlobs = 10000;

    // Frame intake
    void allocateGeometry(int frameWidth, int frameHeight, int factor);
    void releaseScaledBuffers();
    void downscale(const uint8_t* frame);

    // Background model
    void updateBackground(const uint8_t* scaledFrame, const uint8_t* regionMask);
    void updateBackgroundParallel(const uint8_t* scaledFrame, const uint8_t* regionMask);
    void updateBackgroundRows(const uint8_t* scaledFrame, const uint8_t* regionMask, int firstRow, int endRow);

    // Blob extraction, in stage order
    void extractBlobs();
    void labelRuns();
    void markGrownBoxes(int half);
    int labelCoveredArea(); // returns the number of group labels
    void mergeGroups(int half, int groupCount);
    void handOverBlobs();

    // Tracking
    void updateTracks();
    void updateTrack(Track& track, const Blob& blob) const;
    float matchScore(const Blob& blob, const Track& track) const;
    static float speedDissimilarity(float a, float b, float c);

    PixelModelStore pixelModels;
    std::unique_ptr<uint8_t[]> mask;
    int32_t width = 0;
    int32_t height = 0;
    int32_t scaledWidth = 0;
    int32_t scaledHeight = 0;

    double pixelDeviation = 10.0;
    double alphaCoeff = 0.01;
    int32_t maxObjectWidth = 128;
    int32_t minObjectWidth = 2;
    int32_t maxObjectHeight = 128;
    int32_t minObjectHeight = 2;
    double minObjectVelocity = 0.1;
    double maxObjectVelocity = 20.0;
    int32_t numThreads = 1;
    int32_t trackDetectionCriterion = 15;
    int32_t trackResetCriterion = 5;
    double matchThreshold = 0.5;
    int32_t minDistanceBetweenObjects = 16;
    int32_t scaleFactor = 1;
    int32_t numGaussElements = 5;

    std::unique_ptr<uint8_t[]> scaledFrame;
    std::unique_ptr<Blob[]> mergedBlobs;
    std::unique_ptr<Blob[]> firstPassBlobs;
    std::vector<Blob> blobs;
    std::unique_ptr<int32_t[]> labelTable;
    std::unique_ptr<int32_t[]> rowLabels;
    std::unique_ptr<int32_t[]> grownRuns;
    std::unique_ptr<int32_t[]> labelImage;
    int32_t blobCount = 0;
    std::vector<Track> tracks;
    int32_t nextObjectId = 0;
};
