// setParam acceptance, truncation and scale changes; reset; geometry buffers.
#include "DetectorAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using A = MotionDetectorTestAccess;

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
    EXPECT_EQ(A::pixelDeviation(d), 10.0);
    EXPECT_EQ(A::alphaCoeff(d), 0.01);
    EXPECT_EQ(A::maxObjectWidth(d), 128);
    EXPECT_EQ(A::minObjectWidth(d), 2);
    EXPECT_EQ(A::minObjectVelocity(d), 0.1);
    EXPECT_EQ(A::maxObjectVelocity(d), 20.0);
    EXPECT_EQ(A::numThreads(d), 1);
    EXPECT_EQ(A::trackDetectionCriterion(d), 15);
    EXPECT_EQ(A::trackResetCriterion(d), 5);
    EXPECT_EQ(A::minDistanceBetweenObjects(d), 16);
    EXPECT_EQ(A::scaleFactor(d), 1);
    EXPECT_EQ(A::numGaussElements(d), 5);
    EXPECT_EQ(A::width(d), 0);
    EXPECT_FALSE(A::hasModels(d));
}

TEST(SetParam, BoundsAreInclusiveAndRefusalsKeepTheOldValue) {
    MotionDetector d;
    EXPECT_TRUE(d.setParam(PIXEL_DEVIATION, 255));
    EXPECT_TRUE(d.setParam(PIXEL_DEVIATION, 0));
    EXPECT_FALSE(d.setParam(PIXEL_DEVIATION, 255.5));
    EXPECT_EQ(A::pixelDeviation(d), 0.0);

    EXPECT_TRUE(d.setParam(ALPHA_COEFF, 1));
    EXPECT_FALSE(d.setParam(ALPHA_COEFF, 1.01));
    EXPECT_FALSE(d.setParam(ALPHA_COEFF, -0.0001));
    EXPECT_EQ(A::alphaCoeff(d), 1.0);

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
    EXPECT_EQ(A::trackDetectionCriterion(d), 1);

    EXPECT_TRUE(d.setParam(NUM_THREADS, 0.5));
    EXPECT_EQ(A::numThreads(d), 0);

    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 8.9));
    EXPECT_EQ(A::scaleFactor(d), 8);
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, 0.9));
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, 9));
    EXPECT_FALSE(d.setParam(SCALE_FACTOR, -0.5));
    EXPECT_EQ(A::scaleFactor(d), 8);

    // No check between related parameters.
    EXPECT_TRUE(d.setParam(MIN_OBJECT_WIDTH, 200));
    EXPECT_EQ(A::minObjectWidth(d), 200);
    EXPECT_EQ(A::maxObjectWidth(d), 128);
}

TEST(SetParam, UnknownIdentifiersAreRefused) {
    MotionDetector d;
    for (int id : {-1, 0, 1, 2, 17, 100}) EXPECT_FALSE(d.setParam(id, 1.0)) << id;
}

TEST(SetParam, NanAndInfinitiesAreRefusedForEveryIdentifier) {
    MotionDetector d;
    for (int id = PIXEL_DEVIATION; id <= NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL; ++id) {
        EXPECT_FALSE(d.setParam(id, notANumber)) << id;
        EXPECT_FALSE(d.setParam(id, inf)) << id;
        EXPECT_FALSE(d.setParam(id, -inf)) << id;
        EXPECT_FALSE(d.setParam(id, 1e300)) << id;
        EXPECT_FALSE(d.setParam(id, -1e300)) << id;
    }
    EXPECT_EQ(A::scaleFactor(d), 1);
    EXPECT_EQ(A::pixelDeviation(d), 10.0);
}

TEST(Geometry, ScaleFactorBeforeTheFirstFrameOnlyStoresTheFactor) {
    MotionDetector d;
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 2));
    EXPECT_FALSE(A::hasModels(d));
    ASSERT_TRUE(feed(d, 640, 480));
    EXPECT_EQ(A::scaledWidth(d), 320);
    EXPECT_EQ(A::scaledHeight(d), 240);
    EXPECT_TRUE(A::hasModels(d));
}

TEST(Geometry, ScaleChangeReallocatesAtOnceAndRefusesUndividedFrames) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 640, 480));
    A::tracks(d).push_back(Track{});
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 3));
    EXPECT_EQ(A::scaledWidth(d), 213);
    EXPECT_EQ(A::scaledHeight(d), 160);
    EXPECT_EQ(A::tracks(d).size(), 1u) << "a scale change keeps the tracks";
    EXPECT_FALSE(feed(d, 640, 480));
    EXPECT_FALSE(feed(d, 640, 480));
    EXPECT_TRUE(feed(d, 639, 480));
    EXPECT_EQ(A::scaledWidth(d), 213);
}

TEST(Geometry, SameFactorKeepsEveryBuffer) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 64, 48));
    PixelModel m{};
    m.initialized = true;
    A::setModel(d, 5, m);
    EXPECT_TRUE(d.setParam(SCALE_FACTOR, 1.5));
    EXPECT_TRUE(A::model(d, 5).initialized);
}

TEST(Geometry, RefusedFramesChangeNothing) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 4));
    ASSERT_TRUE(feed(d, 640, 480));
    A::tracks(d).push_back(Track{});
    PixelModel m{};
    m.components[0].mean = 42.0f;
    A::setModel(d, 7, m);
    for (auto [w, h] : {std::pair{642, 480}, {640, 31}, {31, 480}, {8193, 64}, {64, 8193}, {-640, 480}, {0, 0}}) {
        std::vector<uint8_t> frame(size_t(std::max(w, 1)) * std::max(h, 1));
        EXPECT_FALSE(d.processFrame(frame.data(), w, h, nullptr)) << w << "x" << h;
    }
    EXPECT_EQ(A::width(d), 640);
    EXPECT_EQ(A::scaledWidth(d), 160);
    EXPECT_EQ(A::model(d, 7).components[0].mean, 42.0f);
    EXPECT_EQ(A::tracks(d).size(), 1u);
    EXPECT_TRUE(feed(d, 640, 480));
}

TEST(Geometry, ExtremeAcceptedSizes) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(SCALE_FACTOR, 8));
    EXPECT_TRUE(feed(d, 32, 32));
    EXPECT_TRUE(feed(d, 8192, 32));
    EXPECT_EQ(A::scaledWidth(d), 1024);
    EXPECT_TRUE(feed(d, 32, 8192));
    EXPECT_EQ(A::scaledHeight(d), 1024);
}

TEST(Geometry, NewFrameSizeRestartsModelsButKeepsTracks) {
    MotionDetector d;
    ASSERT_TRUE(feed(d, 64, 64));
    A::tracks(d).push_back(Track{});
    A::nextObjectId(d) = 7;
    ASSERT_TRUE(feed(d, 96, 64));
    EXPECT_EQ(A::scaledWidth(d), 96);
    EXPECT_EQ(A::nextObjectId(d), 7);
}

TEST(Reset, BeforeAnyFrameOnlyEmptiesContainers) {
    MotionDetector d;
    A::tracks(d).push_back(Track{});
    A::blobs(d).push_back(Blob{});
    A::blobCount(d) = 1;
    A::nextObjectId(d) = 3;
    d.reset();
    EXPECT_TRUE(A::tracks(d).empty());
    EXPECT_TRUE(A::blobs(d).empty());
    EXPECT_EQ(A::blobCount(d), 0);
    EXPECT_EQ(A::nextObjectId(d), 0);
    EXPECT_FALSE(A::hasModels(d));
}

TEST(Reset, ClearsModelsAndMaskButKeepsParametersAndGeometry) {
    MotionDetector d;
    ASSERT_TRUE(d.setParam(PIXEL_DEVIATION, 20));
    ASSERT_TRUE(feed(d, 64, 32, 100));
    PixelModel m{};
    m.initialized = true;
    m.components[0].weight = 0.5f;
    A::setModel(d, 10, m);
    A::mask(d)[3] = 255;
    d.reset();
    EXPECT_FALSE(A::model(d, 10).initialized);
    EXPECT_EQ(A::model(d, 10).components[0].weight, 0.0f);
    EXPECT_EQ(A::mask(d)[3], 0);
    EXPECT_EQ(A::width(d), 64);
    EXPECT_EQ(A::pixelDeviation(d), 20.0);
}
