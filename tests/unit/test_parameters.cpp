// setParam acceptance, truncation and scale changes; reset; geometry buffers.
#include "detector/DetectorStages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace motion;

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

bool feed(MotionDetector& d, int w, int h, uint8_t value = 0) {
    std::vector<uint8_t> frame(size_t(w) * h, value);
    return d.processFrame(frame.data(), w, h, nullptr);
}

} // namespace

TEST(SetParam, DefaultsAfterConstruction) {
    MotionDetector d;
    EXPECT_EQ(d.getParam(PIXEL_DEVIATION), 10.0);
    EXPECT_EQ(d.getParam(ALPHA_COEFF), 0.01);
    EXPECT_EQ(d.getParam(MAX_OBJECT_WIDTH), 128);
    EXPECT_EQ(d.getParam(MIN_OBJECT_WIDTH), 2);
    EXPECT_EQ(d.getParam(MIN_OBJECT_VELOCITY), 0.1);
    EXPECT_EQ(d.getParam(MAX_OBJECT_VELOCITY), 20.0);
    EXPECT_EQ(d.getParam(NUM_THREADS), 1);
    EXPECT_EQ(d.getParam(TRACK_DETECTION_CRITERION), 15);
    EXPECT_EQ(d.getParam(TRACK_RESET_CRITERION), 5);
    EXPECT_EQ(d.getParam(MIN_DISTANCE_BETWEEN_OBJECTS), 16);
    EXPECT_EQ(d.getParam(SCALE_FACTOR), 1);
    EXPECT_EQ(d.getParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL), 5);
    EXPECT_EQ(stagesOf(d).width, 0);
    EXPECT_FALSE(stagesOf(d).background.allocated());
}

TEST(SetParam, BoundsAreInclusiveAndRefusalsKeepTheOldValue) {
    MotionDetector d;
    EXPECT_TRUE(d.setParam(PIXEL_DEVIATION, 255));
    EXPECT_TRUE(d.setParam(PIXEL_DEVIATION, 0));
    EXPECT_FALSE(d.setParam(PIXEL_DEVIATION, 255.5));
    EXPECT_EQ(d.getParam(PIXEL_DEVIATION), 0.0);

    EXPECT_TRUE(d.setParam(ALPHA_COEFF, 1));
    EXPECT_FALSE(d.setParam(ALPHA_COEFF, 1.01));
    EXPECT_FALSE(d.setParam(ALPHA_COEFF, -0.0001));
    EXPECT_EQ(d.getParam(ALPHA_COEFF), 1.0);

    EXPECT_TRUE(d.setParam(MAX_OBJECT_VELOCITY, 8192));
    EXPECT_FALSE(d.setParam(MIN_OBJECT_VELOCITY, 8192.5));
    EXPECT_TRUE(d.setParam(TRACK_RESET_CRITERION, 0));
    EXPECT_FALSE(d.setParam(NUM_THREADS, 256));
    EXPECT_FALSE(d.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, 0.99));
    EXPECT_TRUE(d.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, 8192));
    EXPECT_FALSE(d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 10.5));
    EXPECT_TRUE(d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 10));
}

TEST(SetParam, IntegerFieldsAreCheckedBeforeTruncation) {
    MotionDetector d;
    EXPECT_FALSE(d.setParam(TRACK_DETECTION_CRITERION, 0.5));
    EXPECT_TRUE(d.setParam(TRACK_DETECTION_CRITERION, 1.9));
    EXPECT_EQ(d.getParam(TRACK_DETECTION_CRITERION), 1);

    EXPECT_TRUE(d.setParam(NUM_THREADS, 0.5));
    EXPECT_EQ(d.getParam(NUM_THREADS), 0);

    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 8.9));
    EXPECT_EQ(d.getParam(SCALE_FACTOR), 8);
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, 0.9));
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, 9));
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, -0.5));
    EXPECT_EQ(d.getParam(SCALE_FACTOR), 8);

    // No check between related parameters.
    EXPECT_TRUE(d.setParam(MIN_OBJECT_WIDTH, 200));
    EXPECT_EQ(d.getParam(MIN_OBJECT_WIDTH), 200);
    EXPECT_EQ(d.getParam(MAX_OBJECT_WIDTH), 128);
}

TEST(SetParam, UnknownIdentifiersAreRefused) {
    MotionDetector d;
    for (int id : {-1, 0, 1, 2, 18, 100}) {
        EXPECT_FALSE(d.setParam(id, 1.0)) << id;
        EXPECT_TRUE(std::isnan(d.getParam(id))) << id;
    }
}

TEST(SetParam, NanAndInfinitiesAreRefusedForEveryIdentifier) {
    MotionDetector d;
    for (int id = PIXEL_DEVIATION; id <= LIGHTING_CHANGE_FRACTION; ++id) {
        EXPECT_FALSE(d.setParam(id, notANumber)) << id;
        EXPECT_FALSE(d.setParam(id, inf)) << id;
        EXPECT_FALSE(d.setParam(id, -inf)) << id;
        EXPECT_FALSE(d.setParam(id, 1e300)) << id;
        EXPECT_FALSE(d.setParam(id, -1e300)) << id;
    }
    EXPECT_EQ(d.getParam(SCALE_FACTOR), 1);
    EXPECT_EQ(d.getParam(PIXEL_DEVIATION), 10.0);
}

TEST(Geometry, ScaleFactorBeforeTheFirstFrameOnlyStoresTheFactor) {
    MotionDetector d;
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 2));
    EXPECT_FALSE(stagesOf(d).background.allocated());
    ASSERT_TRUE(feed(d, 640, 480));
    EXPECT_EQ(stagesOf(d).scaledWidth, 320);
    EXPECT_EQ(stagesOf(d).scaledHeight, 240);
    EXPECT_TRUE(stagesOf(d).background.allocated());
}

TEST(Geometry, ScaleChangeReallocatesAtOnceAndRefusesUndividedFrames) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 640, 480));
    stagesOf(d).tracker.tracks().push_back(Track{});
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 3));
    EXPECT_EQ(stagesOf(d).scaledWidth, 213);
    EXPECT_EQ(stagesOf(d).scaledHeight, 160);
    EXPECT_EQ(stagesOf(d).tracker.tracks().size(), 1u) << "a scale change keeps the tracks";
    EXPECT_FALSE(feed(d, 640, 480));
    EXPECT_FALSE(feed(d, 640, 480));
    EXPECT_TRUE(feed(d, 639, 480));
    EXPECT_EQ(stagesOf(d).scaledWidth, 213);
}

TEST(Geometry, SameFactorKeepsEveryBuffer) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 64, 48));
    PixelModel m{};
    m.initialized = true;
    stagesOf(d).background.setModel(5, m);
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 1.5));
    EXPECT_TRUE(stagesOf(d).background.model(5).initialized);
}

TEST(Geometry, RefusedFramesChangeNothing) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 4));
    ASSERT_TRUE(feed(d, 640, 480));
    stagesOf(d).tracker.tracks().push_back(Track{});
    PixelModel m{};
    m.components[0].mean = 42.0f;
    stagesOf(d).background.setModel(7, m);
    for (auto [w, h] : {std::pair{642, 480}, {640, 31}, {31, 480}, {8193, 64}, {64, 8193}, {-640, 480}, {0, 0}}) {
        std::vector<uint8_t> frame(size_t(std::max(w, 1)) * std::max(h, 1));
        EXPECT_FALSE(d.processFrame(frame.data(), w, h, nullptr)) << w << "x" << h;
    }
    EXPECT_EQ(stagesOf(d).width, 640);
    EXPECT_EQ(stagesOf(d).scaledWidth, 160);
    EXPECT_EQ(stagesOf(d).background.model(7).components[0].mean, 42.0f);
    EXPECT_EQ(stagesOf(d).tracker.tracks().size(), 1u);
    EXPECT_TRUE(feed(d, 640, 480));
}

TEST(Geometry, ExtremeAcceptedSizes) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 8));
    EXPECT_TRUE(feed(d, 32, 32));
    EXPECT_TRUE(feed(d, 8192, 32));
    EXPECT_EQ(stagesOf(d).scaledWidth, 1024);
    EXPECT_TRUE(feed(d, 32, 8192));
    EXPECT_EQ(stagesOf(d).scaledHeight, 1024);
}

TEST(Geometry, NewFrameSizeRestartsModelsButKeepsTracks) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 64, 64));
    stagesOf(d).tracker.tracks().push_back(Track{});
    stagesOf(d).report = ObjectReport(7);
    ASSERT_TRUE(feed(d, 96, 64));
    EXPECT_EQ(stagesOf(d).scaledWidth, 96);
    EXPECT_EQ(stagesOf(d).report.lastId(), 7);
}

TEST(Reset, BeforeAnyFrameOnlyEmptiesContainers) {
    MotionDetector d;
    MotionDetector::Impl& stages = stagesOf(d);
    stages.tracker.tracks().push_back(Track{});
    stages.report = ObjectReport(3);
    d.reset();
    EXPECT_TRUE(stages.tracker.tracks().empty());
    EXPECT_TRUE(stages.blobs.blobs().empty());
    EXPECT_EQ(stages.report.lastId(), 0);
    EXPECT_FALSE(stages.background.allocated());
}

TEST(Reset, ClearsModelsAndMaskButKeepsParametersAndGeometry) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(PIXEL_DEVIATION, 20));
    ASSERT_TRUE(feed(d, 64, 32, 100));
    ASSERT_TRUE(feed(d, 64, 32, 0));
    ASSERT_EQ(stagesOf(d).background.mask()[3], 255) << "a jump of 100 grey levels is motion";
    PixelModel m{};
    m.initialized = true;
    m.components[0].weight = 0.5f;
    stagesOf(d).background.setModel(10, m);
    d.reset();
    EXPECT_FALSE(stagesOf(d).background.model(10).initialized);
    EXPECT_EQ(stagesOf(d).background.model(10).components[0].weight, 0.0f);
    EXPECT_EQ(stagesOf(d).background.mask()[3], 0);
    EXPECT_EQ(stagesOf(d).width, 64);
    EXPECT_EQ(d.getParam(PIXEL_DEVIATION), 20.0);
}
