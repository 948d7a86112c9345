// The stages behind MotionDetector, in the order a frame passes them, and
// the geometry they share. Internal to the library and its tests.
#pragma once

#include "detector/MotionDetector.h"
#include "detector/background/BackgroundModel.h"
#include "detector/blobs/BlobExtractor.h"
#include "detector/parameters/Parameters.h"
#include "detector/report/ObjectReport.h"
#include "detector/tracking/Tracker.h"

#include <cstdint>
#include <memory>

struct MotionDetector::Impl {
    motion::ParameterValues params = motion::defaultParameterValues();
    // The last accepted frame size, 0 x 0 before the first, and the grid the
    // stages work on at the scale factor in force.
    int32_t width = 0;
    int32_t height = 0;
    int32_t scaledWidth = 0;
    int32_t scaledHeight = 0;
    std::unique_ptr<uint8_t[]> scaledFrame;

    motion::BackgroundModel background;
    motion::BlobExtractor blobs;
    motion::Tracker tracker;
    motion::ObjectReport report;

    // Buffers for the grid of a frameWidth x frameHeight frame at factor.
    // Throws when they cannot be allocated, leaving no geometry at all.
    void allocateGeometry(int frameWidth, int frameHeight, int factor);
    void releaseGeometry();
};

// The stages of a detector, for the library's tests.
MotionDetector::Impl& stagesOf(MotionDetector& detector);
