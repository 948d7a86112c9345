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

#include <cstdint>
#include <vector>

// Parameter identifiers accepted by MotionDetector::setParam and getParam.
// Each matches one numeric key of the configuration file. Ranges are
// inclusive; the integer parameters take the value truncated toward zero.
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
    SCALE_FACTOR = 15,                     // 1..8, default 1 (any value below 9 truncated)
    NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL = 16, // 1..10, default 5
    LIGHTING_CHANGE_FRACTION = 17           // 0..1 share of the watched pixels, default 0 (off)
};

// A reported object in full-frame pixels. The box edges are inclusive.
struct DetectedObject {
    int32_t x0;           // left column
    int32_t y0;           // top row
    int32_t x1;           // right column
    int32_t y1;           // bottom row
    int32_t pixelCount;   // motion pixels of the object
    int32_t intensitySum; // sum of their grey values
    int32_t label;        // the object's region number in this frame
    float centroidX;      // mean column of the motion pixels
    float centroidY;      // mean row
    float reserved;       // always 0
    int32_t objectId;     // at least 1, kept while the object is followed
    float velocityX;      // estimated motion in pixels per frame
    float velocityY;
};

class MotionDetector {
public:
    // Every parameter at its default; the frame size is taken from the first
    // accepted frame.
    MotionDetector();
    ~MotionDetector();
    MotionDetector(const MotionDetector&) = delete;
    MotionDetector& operator=(const MotionDetector&) = delete;

    // Stores a parameter (a MotionDetectorParam). Returns false and changes
    // nothing for an unknown id, NaN or a value outside the id's range.
    bool setParam(int id, double value);

    // The value in force for a parameter identifier (integer parameters
    // converted exactly), or NaN for an unknown identifier.
    double getParam(int id) const;

    // Feeds one 8-bit grey frame, width * height bytes with packed rows.
    // regionMask, when not null, holds one byte per scaled pixel; 0 excludes
    // the pixel. Returns false, changing nothing, when the size is outside
    // 32..8192 or not a multiple of the scale factor. Throws std::bad_alloc
    // when the buffers for a new size cannot be allocated; the detector then
    // holds no frame size and allocates again with the next frame.
    bool processFrame(const uint8_t* frame, int width, int height, const uint8_t* regionMask);

    // Writes the motion mask of the last accepted frame at full size
    // (width * height bytes, 255 motion, 0 background). Writes nothing before
    // the first accepted frame.
    void getMotionMask(uint8_t* dst);

    // Returns the tracks that qualify as objects in this frame, giving new
    // ones an identifier. Not a pure query: identifiers are handed out here.
    std::vector<DetectedObject> getObjects();

    // Forgets the background, the blobs and the tracks; identifiers restart
    // at 1. The frame size and every parameter stay.
    void reset();

    // The pipeline's stages; defined only inside the library.
    struct Impl;

private:
    // The library's own tests inspect the stages through this.
    friend Impl& stagesOf(MotionDetector& detector);

    Impl* impl;
};
