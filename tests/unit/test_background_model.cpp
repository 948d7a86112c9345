// The background model of every kernel against the plain pixel update,
// serial against parallel, the host's OpenMP settings, and the behaviour
// over time of single pixels.
#include "SampleFrames.h"
#include "detector/DetectorStages.h"
#include "detector/background/BackgroundKernel.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

using namespace motion;

namespace {

// The plain kernel's pixel update, with the parameters converted as the
// detector converts them: the yardstick for every kernel, layout and code
// path.
uint8_t referenceUpdate(PixelModel& model, uint8_t value, double alphaCoeff, double pixelDeviation, int n) {
    return updatePixelModel(model, value, static_cast<float>(alphaCoeff),
                            static_cast<float>(pixelDeviation * pixelDeviation), n)
               ? 255
               : 0;
}

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Bitwise equality of every field, so that -0, NaN and the slots beyond the
// ones in use all count.
::testing::AssertionResult sameModel(const PixelModel& a, const PixelModel& b) {
    if (a.initialized != b.initialized) return ::testing::AssertionFailure() << "initialized differs";
    for (int k = 0; k < PixelModel::capacity; ++k) {
        const GaussianComponent& x = a.components[k];
        const GaussianComponent& y = b.components[k];
        if (bits(x.weight) != bits(y.weight) || bits(x.mean) != bits(y.mean) || bits(x.variance) != bits(y.variance) ||
            bits(x.fitness) != bits(y.fitness))
            return ::testing::AssertionFailure()
                   << "slot " << k << ": (" << x.weight << ", " << x.mean << ", " << x.variance << ", " << x.fitness
                   << ") vs (" << y.weight << ", " << y.mean << ", " << y.variance << ", " << y.fitness << ")";
    }
    return ::testing::AssertionSuccess();
}

const SampleClip& sample() {
    static const SampleClip clip = loadSampleClip(60);
    return clip;
}

int gridPixels(MotionDetector& d) {
    return stagesOf(d).scaledWidth * stagesOf(d).scaledHeight;
}

// A detector with its models mirrored by a reference run: every frame is fed
// to the detector, and the same scaled frame updates the mirrored models.
struct ReferenceRun {
    MotionDetector detector;
    std::vector<PixelModel> models;
    std::vector<uint8_t> mask;

    void feed(const std::vector<uint8_t>& frame, int width, int height) {
        ASSERT_TRUE(detector.processFrame(frame.data(), width, height, nullptr));
        const size_t pixels = size_t(stagesOf(detector).scaledWidth) * stagesOf(detector).scaledHeight;
        models.resize(pixels, PixelModel{});
        mask.resize(pixels);
        const uint8_t* scaled = stagesOf(detector).scaledView(frame.data());
        for (size_t i = 0; i < pixels; ++i)
            mask[i] = referenceUpdate(models[i], scaled[i], detector.getParam(ALPHA_COEFF),
                                      detector.getParam(PIXEL_DEVIATION),
                                      detector.getParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL));
    }

    void expectSame(const char* when) {
        const uint8_t* detectorMask = stagesOf(detector).background.mask();
        for (size_t i = 0; i < models.size(); ++i) {
            ASSERT_EQ(detectorMask[i], mask[i]) << when << ", mask byte " << i;
            ASSERT_TRUE(sameModel(stagesOf(detector).background.model(int(i)), models[i])) << when << ", pixel " << i;
        }
    }
};

std::vector<uint8_t> motionBytes(MotionDetector& d) {
    const uint8_t* m = stagesOf(d).background.mask();
    return {m, m + size_t(stagesOf(d).scaledWidth) * stagesOf(d).scaledHeight};
}

// The runs the update noted for each row, as (row, first, last, grey sum).
std::vector<std::array<uint32_t, 4>> notedRuns(const MotionRuns& runs, int height) {
    std::vector<std::array<uint32_t, 4>> all;
    for (int row = 1; row < height; ++row)
        for (const MotionRun* run = runs.begin(row); run != runs.end(row); ++run)
            all.push_back({uint32_t(row), run->first, run->last, run->greySum});
    return all;
}

// The runs found afresh from the detector's mask and scaled frame.
std::vector<std::array<uint32_t, 4>> runsOfMask(MotionDetector& d, const uint8_t* frame) {
    const int w = stagesOf(d).scaledWidth, h = stagesOf(d).scaledHeight;
    MotionRuns runs;
    runs.resize(h);
    runs.startFrame(1);
    for (int row = 1; row < h; ++row)
        runs.findRow(row, stagesOf(d).background.mask() + size_t(row) * w,
                     stagesOf(d).scaledView(frame) + size_t(row) * w, w, 0);
    return notedRuns(runs, h);
}

std::vector<uint8_t> blobBytes(MotionDetector& d) {
    const std::vector<Blob>& blobs = stagesOf(d).blobs.blobs();
    const auto* bytes = reinterpret_cast<const uint8_t*>(blobs.data());
    return {bytes, bytes + blobs.size() * sizeof(Blob)};
}

std::vector<uint8_t> objectBytes(MotionDetector& d) {
    const std::vector<DetectedObject> objects = d.getObjects();
    const auto* bytes = reinterpret_cast<const uint8_t*>(objects.data());
    return {bytes, bytes + objects.size() * sizeof(DetectedObject)};
}

// Feeds a 32 x 32 frame of one grey value and returns the mask byte of pixel 0.
uint8_t feedFlat(MotionDetector& d, uint8_t value) {
    std::vector<uint8_t> frame(32 * 32, value);
    EXPECT_TRUE(d.processFrame(frame.data(), 32, 32, nullptr));
    return stagesOf(d).background.mask()[0];
}

// Runs a test once with each kernel built for the target, on detectors
// that use it.
class EveryKernel : public ::testing::TestWithParam<BackgroundKernel> {
protected:
    void SetUp() override {
        if (!backgroundKernelRuns(GetParam())) GTEST_SKIP() << "the processor lacks this kernel's instructions";
    }
    void use(MotionDetector& d) { ASSERT_TRUE(stagesOf(d).background.useKernel(GetParam())); }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(BackgroundModel, EveryKernel, ::testing::ValuesIn(builtBackgroundKernels()),
                         [](const ::testing::TestParamInfo<BackgroundKernel>& info) {
                             return backgroundKernelName(info.param);
                         });

TEST_P(EveryKernel, MatchesTheReferenceAtEveryScaleAndComponentCount) {
    const SampleClip& clip = sample();
    for (int factor : {1, 2, 3, 4}) {
        for (int components : {1, 3, 5, 10}) {
            SCOPED_TRACE(::testing::Message() << "factor " << factor << ", components " << components);
            ReferenceRun run;
            use(run.detector);
            run.detector.setParam(SCALE_FACTOR, factor);
            run.detector.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, components);
            const int count = factor == 1 ? 20 : 40;
            for (int i = 0; i < count; ++i) run.feed(clip.frames[i], clip.width, clip.height);
            run.expectSame("after the last frame");
            int motion = 0;
            for (uint8_t v : run.mask) motion += v == 255;
            if (components > 1) {
                EXPECT_GT(motion, 0) << "the frames should hold moving objects";
            }
        }
    }
}

TEST_P(EveryKernel, MatchesTheReferenceAcrossParameterChangesBetweenFrames) {
    const SampleClip& clip = sample();
    ReferenceRun run;
    use(run.detector);
    run.detector.setParam(SCALE_FACTOR, 2);
    const struct {
        int components;
        double alpha;
        double deviation;
    } steps[] = {{5, 0.01, 10}, {3, 0.01, 10}, {10, 0.05, 4}, {1, 0.05, 4}, {7, 0.2, 0}, {5, 1.0, 10}, {4, 0.01, 25}};
    int frame = 0;
    for (const auto& step : steps) {
        run.detector.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, step.components);
        run.detector.setParam(ALPHA_COEFF, step.alpha);
        run.detector.setParam(PIXEL_DEVIATION, step.deviation);
        for (int i = 0; i < 8; ++i) run.feed(clip.frames[frame++], clip.width, clip.height);
        run.expectSame(("after " + std::to_string(step.components) + " components").c_str());
    }
}

// Random models reach the rare paths (ties in fitness, zero variances,
// matches in late slots) that real frames seldom take. Like every model the
// detector builds, they have fitness = weight / variance, and 0 for 0 / 0.
TEST_P(EveryKernel, MatchesTheReferenceOnRandomModels) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> small(0, 4);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    // Pairs of (weight, variance) whose quotients tie.
    const float tied[][2] = {{0.0f, 0.0f}, {0.0f, 50.0f}, {0.01f, 1.0f}, {0.5f, 50.0f}, {0.25f, 25.0f}};
    for (int components : {1, 2, 5, 8, 10}) {
        SCOPED_TRACE(::testing::Message() << "components " << components);
        MotionDetector d;
        use(d);
        d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, components);
        d.setParam(NUM_THREADS, 2);
        std::vector<uint8_t> frame(48 * 40);
        ASSERT_TRUE(d.processFrame(frame.data(), 48, 40, nullptr));
        std::vector<PixelModel> expected(frame.size());
        for (int round = 0; round < 20; ++round) {
            // Models written into a store emptied by reset(), which the
            // update must not take for one still empty.
            if (round % 5 == 0) d.reset();
            for (size_t i = 0; i < frame.size(); ++i) {
                PixelModel m{};
                m.initialized = small(rng) != 0;
                for (GaussianComponent& c : m.components) {
                    c.weight = small(rng) == 0 ? 0.01f : unit(rng);
                    c.mean = float(int(unit(rng) * 255));
                    c.variance = small(rng) == 0 ? 0.0f : 100.0f * unit(rng) * 4;
                    if (small(rng) < 2) {
                        const int pair = small(rng);
                        c.weight = tied[pair][0];
                        c.variance = tied[pair][1];
                    }
                    c.fitness = c.weight == 0.0f ? 0.0f : c.weight / c.variance;
                }
                frame[i] = uint8_t(std::clamp(m.components[small(rng)].mean + (unit(rng) - 0.5f) * 60, 0.0f, 255.0f));
                stagesOf(d).background.setModel(int(i), m);
                expected[i] = m;
            }
            ASSERT_TRUE(d.processFrame(frame.data(), 48, 40, nullptr));
            const uint8_t* mask = stagesOf(d).background.mask();
            for (size_t i = 0; i < frame.size(); ++i) {
                const uint8_t want = referenceUpdate(expected[i], frame[i], 0.01, 10, components);
                ASSERT_EQ(mask[i], want) << "pixel " << i << ", round " << round;
                ASSERT_TRUE(sameModel(stagesOf(d).background.model(int(i)), expected[i]))
                    << "pixel " << i << ", round " << round;
            }
        }
    }
}

// Settled models: later slots below the learning rate, so that a frame
// matching slot 0 leaves them as they are, in any order (zero variances rank
// them at +inf). One ordering pass per frame sorts them over several frames;
// the update must not take a pixel for ordered before it is, nor after its
// model was written. The update skips such frozen slots, so some pixels also
// keep a live later slot, stray values wake frozen ones or replace the last,
// a region mask leaves pixels out (their models still count for the group's
// neighbours), and lowering the rate wakes frozen slots all at once. The
// width leaves a group of the row partly padding.
TEST_P(EveryKernel, MatchesTheReferenceOverFramesOnSettledRandomModels) {
    constexpr int width = 45, height = 40;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int components : {2, 5, 10}) {
        SCOPED_TRACE(::testing::Message() << "components " << components);
        MotionDetector d;
        use(d);
        d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, components);
        std::vector<uint8_t> frame(width * height, 128);
        ASSERT_TRUE(d.processFrame(frame.data(), width, height, nullptr)); // leaves every pixel ordered
        std::vector<PixelModel> expected(frame.size());
        for (size_t i = 0; i < frame.size(); ++i) {
            PixelModel& m = expected[i];
            m.initialized = true;
            const int liveTail = unit(rng) < 0.1f ? 1 + int(unit(rng) * float(components - 1)) : 0;
            for (int k = 0; k < components; ++k) {
                GaussianComponent& c = m.components[k];
                c.weight = k == 0 ? 0.5f + unit(rng) / 2 : unit(rng) < 0.2f ? 0.0f : unit(rng) * 0.0099f;
                if (k == liveTail) c.weight = 0.02f + unit(rng) * 0.2f;
                c.mean = float(int(unit(rng) * 255));
                c.variance = unit(rng) < 0.2f ? 0.0f : 1.0f + unit(rng) * 400;
                c.fitness = c.weight == 0.0f ? 0.0f : c.weight / c.variance;
            }
            stagesOf(d).background.setModel(int(i), m);
        }
        std::vector<uint8_t> region(frame.size());
        for (int round = 0; round < 12; ++round) {
            const double alpha = round < 6 ? 0.01 : round < 9 ? 0.004 : 0.01;
            d.setParam(ALPHA_COEFF, alpha);
            for (size_t i = 0; i < frame.size(); ++i) {
                const float near = expected[i].components[0].mean + (unit(rng) - 0.5f) * 10;
                frame[i] = uint8_t(std::clamp(unit(rng) < 0.1f ? unit(rng) * 255 : near, 0.0f, 255.0f));
                region[i] = unit(rng) < 0.7f;
            }
            const bool masked = round % 3 == 1;
            ASSERT_TRUE(d.processFrame(frame.data(), width, height, masked ? region.data() : nullptr));
            const uint8_t* mask = stagesOf(d).background.mask();
            for (size_t i = 0; i < frame.size(); ++i) {
                const bool watched = !masked || region[i];
                ASSERT_EQ(mask[i], watched ? referenceUpdate(expected[i], frame[i], alpha, 10, components) : 0)
                    << "pixel " << i << ", round " << round;
                ASSERT_TRUE(sameModel(stagesOf(d).background.model(int(i)), expected[i]))
                    << "pixel " << i << ", round " << round;
            }
        }
    }
}

// Runs frames through a detector and checks after every frame that its models
// and mask equal those of a serial detector fed the same frames.
void expectSameAsSerial(const std::vector<std::vector<uint8_t>>& frames, int width, int height, int factor,
                        int numThreads, int runtimeThreads) {
    SCOPED_TRACE(::testing::Message() << "factor " << factor << ", numThreads " << numThreads << ", runtime threads "
                                      << runtimeThreads);
    MotionDetector serial, parallel;
    serial.setParam(SCALE_FACTOR, factor);
    parallel.setParam(SCALE_FACTOR, factor);
    parallel.setParam(NUM_THREADS, numThreads);
    for (size_t f = 0; f < frames.size(); ++f) {
        if (runtimeThreads > 0) omp_set_num_threads(runtimeThreads);
        ASSERT_TRUE(serial.processFrame(frames[f].data(), width, height, nullptr));
        ASSERT_TRUE(parallel.processFrame(frames[f].data(), width, height, nullptr));
        ASSERT_EQ(motionBytes(parallel), motionBytes(serial)) << "frame " << f;
        // The runs noted by the team's threads are those of the mask, so
        // blobs and objects come out the same.
        ASSERT_EQ(notedRuns(stagesOf(parallel).background.motionRuns(), stagesOf(parallel).scaledHeight),
                  runsOfMask(parallel, frames[f].data()))
            << "frame " << f;
        ASSERT_EQ(blobBytes(parallel), blobBytes(serial)) << "frame " << f;
        ASSERT_EQ(objectBytes(parallel), objectBytes(serial)) << "frame " << f;
        for (int i = 0; i < stagesOf(serial).scaledWidth * stagesOf(serial).scaledHeight; ++i)
            ASSERT_TRUE(sameModel(stagesOf(parallel).background.model(i), stagesOf(serial).background.model(i)))
                << "frame " << f << ", pixel " << i;
    }
}

TEST(BackgroundModel, ParallelUpdateEqualsSerialForEveryTeamSize) {
    const SampleClip& clip = sample();
    const std::vector<std::vector<uint8_t>> frames(clip.frames.begin(), clip.frames.begin() + 25);
    for (int factor : {1, 3}) {
        expectSameAsSerial(frames, clip.width, clip.height, factor, 0, 1); // the parallel path with a team of one
        expectSameAsSerial(frames, clip.width, clip.height, factor, 2, 0);
        expectSameAsSerial(frames, clip.width, clip.height, factor, 4, 0);
        expectSameAsSerial(frames, clip.width, clip.height, factor, 0, 3);
    }
}

TEST(BackgroundModel, TeamLargerThanTheRowCount) {
    std::vector<std::vector<uint8_t>> frames;
    const SampleClip& clip = sample();
    for (const auto& full : clip.frames) {
        std::vector<uint8_t> small(64 * 40);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 64; ++x)
                small[y * 64 + x] = full[size_t(y * clip.height / 40) * clip.width + x * clip.width / 64];
        frames.push_back(std::move(small));
    }
    expectSameAsSerial(frames, 64, 40, 8, 9, 0); // five rows, nine threads
}

// A host that set its own OpenMP thread count keeps it: the detector gives
// its teams their size itself, and NUM_THREADS 0 takes the host's count.
TEST(BackgroundModel, LeavesTheHostsOpenMPSettingAlone) {
    const SampleClip& clip = sample();
    omp_set_num_threads(3);
    MotionDetector byDefault, onTwo;
    onTwo.setParam(NUM_THREADS, 2);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(onTwo.processFrame(clip.frames[i].data(), clip.width, clip.height, nullptr));
        ASSERT_TRUE(byDefault.processFrame(clip.frames[i].data(), clip.width, clip.height, nullptr));
    }
    EXPECT_EQ(omp_get_max_threads(), 3);
    // The size of the team that updates the rows, as the calling thread
    // sees it while it hands rows on.
    const auto teamSize = [&](int threads) {
        BackgroundModel model;
        model.resize(clip.width, clip.height);
        int size = 0;
        model.update(clip.frames[0].data(), nullptr, {0.01, 10, 5, threads, 0, 1},
                     [&](int) { size = omp_get_num_threads(); });
        return size;
    };
    EXPECT_EQ(teamSize(2), 2);
    EXPECT_EQ(teamSize(0), 3);
    EXPECT_EQ(omp_get_max_threads(), 3);
}

TEST(BackgroundModel, FirstFrameIsBackgroundWithOneComponentPerPixel) {
    const SampleClip& clip = sample();
    for (bool afterReset : {false, true}) {
        MotionDetector d;
        d.setParam(SCALE_FACTOR, 4);
        if (afterReset) {
            ASSERT_TRUE(d.processFrame(clip.frames[5].data(), clip.width, clip.height, nullptr));
            d.reset();
        }
        ASSERT_TRUE(d.processFrame(clip.frames[0].data(), clip.width, clip.height, nullptr));
        const uint8_t* scaled = stagesOf(d).scaledFrame.get();
        for (int i = 0; i < gridPixels(d); ++i) {
            ASSERT_EQ(stagesOf(d).background.mask()[i], 0);
            const PixelModel m = stagesOf(d).background.model(i);
            ASSERT_TRUE(m.initialized);
            ASSERT_EQ(m.components[0].mean, float(scaled[i]));
            ASSERT_EQ(m.components[0].variance, 100.0f);
            ASSERT_EQ(m.components[0].weight, 1.0f);
            ASSERT_EQ(m.components[0].fitness, 0.01f);
            for (int k = 1; k < PixelModel::capacity; ++k) ASSERT_EQ(m.components[k].weight, 0.0f);
        }
    }
}

TEST(BackgroundModel, StepChangeIsMotionForExactly35Frames) {
    MotionDetector d;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(feedFlat(d, 100), 0) << "static frame " << i;
    for (int i = 1; i <= 35; ++i) ASSERT_EQ(feedFlat(d, 130), 255) << "frame " << i << " at 130";
    EXPECT_EQ(feedFlat(d, 130), 0) << "36th frame at 130";
    EXPECT_EQ(feedFlat(d, 130), 0);
}

TEST(BackgroundModel, MatchNeedsLessThanTwoAndAHalfDeviations) {
    // One component at mean 100 with variance 100, after a static history.
    MotionDetector d;
    d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 1);
    const struct {
        uint8_t value;
        bool match;
    } cases[] = {{125, false}, {75, false}, {124, true}, {76, true}, {160, false}};
    for (const auto& c : cases) {
        d.reset();
        for (int i = 0; i < 10; ++i) feedFlat(d, 100);
        feedFlat(d, c.value);
        // A replacement takes the value as its mean; a match only nudges the mean.
        EXPECT_EQ(stagesOf(d).background.model(0).components[0].mean == float(c.value), !c.match) << int(c.value);
    }
    // With room for two, the exact 25 is motion: the new component ranks second.
    MotionDetector two;
    two.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 2);
    for (int i = 0; i < 10; ++i) feedFlat(two, 100);
    EXPECT_EQ(feedFlat(two, 125), 255);
    EXPECT_EQ(stagesOf(two).background.model(0).components[1].mean, 125.0f);
    two.reset();
    for (int i = 0; i < 10; ++i) feedFlat(two, 100);
    EXPECT_EQ(feedFlat(two, 124), 0);
}

TEST(BackgroundModel, SingleComponentIsAlwaysBackground) {
    MotionDetector d;
    d.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 1);
    for (uint8_t v : {10, 200, 200, 30, 31, 250, 0}) {
        EXPECT_EQ(feedFlat(d, v), 0);
        const PixelModel m = stagesOf(d).background.model(0);
        EXPECT_GE(m.components[0].weight, 0.99f);
    }
    // A replacement takes the new value with weight alpha / alpha.
    feedFlat(d, 90);
    EXPECT_EQ(stagesOf(d).background.model(0).components[0].mean, 90.0f);
    EXPECT_EQ(stagesOf(d).background.model(0).components[0].weight, 1.0f);
}

TEST_P(EveryKernel, ZeroRegionMaskKeepsModelsAndClearsTheMask) {
    const SampleClip& clip = sample();
    MotionDetector d;
    use(d);
    d.setParam(SCALE_FACTOR, 4);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(d.processFrame(clip.frames[i].data(), clip.width, clip.height, nullptr));
    const int pixels = gridPixels(d), width = stagesOf(d).scaledWidth, row = stagesOf(d).scaledHeight * 2 / 3;
    std::vector<PixelModel> before;
    for (int i = 0; i < pixels; ++i) before.push_back(stagesOf(d).background.model(i));
    std::vector<uint8_t> region(pixels, 0);
    // Every other pixel of one row is included, with any non-zero value.
    for (int x = 0; x < width; x += 2) region[row * width + x] = uint8_t(1 + x);
    ASSERT_TRUE(d.processFrame(clip.frames[40].data(), clip.width, clip.height, region.data()));
    std::vector<PixelModel> expected = before;
    const uint8_t* scaled = stagesOf(d).scaledFrame.get();
    for (int i = 0; i < pixels; ++i) {
        const uint8_t want = region[i] ? referenceUpdate(expected[i], scaled[i], 0.01, 10, 5) : 0;
        ASSERT_EQ(stagesOf(d).background.mask()[i], want) << i;
        ASSERT_TRUE(sameModel(stagesOf(d).background.model(i), expected[i])) << i;
    }
}

TEST(BackgroundModel, ZeroLearningRateFreezesTheModel) {
    const SampleClip& clip = sample();
    for (double alpha : {0.0, 1e-40}) {
        MotionDetector d;
        d.setParam(SCALE_FACTOR, 8);
        ASSERT_TRUE(d.setParam(ALPHA_COEFF, alpha));
        ASSERT_TRUE(d.processFrame(clip.frames[0].data(), clip.width, clip.height, nullptr));
        for (int i = 0; i < gridPixels(d); ++i) ASSERT_TRUE(sameModel(stagesOf(d).background.model(i), PixelModel{})) << i;
        // A model learnt at another rate stays as it is, and nothing is motion.
        d.setParam(ALPHA_COEFF, 0.01);
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(d.processFrame(clip.frames[i].data(), clip.width, clip.height, nullptr));
        std::vector<PixelModel> learnt;
        for (int i = 0; i < gridPixels(d); ++i) learnt.push_back(stagesOf(d).background.model(i));
        d.setParam(ALPHA_COEFF, alpha);
        ASSERT_TRUE(d.processFrame(clip.frames[50].data(), clip.width, clip.height, nullptr));
        for (int i = 0; i < gridPixels(d); ++i) {
            ASSERT_EQ(stagesOf(d).background.mask()[i], 0);
            ASSERT_TRUE(sameModel(stagesOf(d).background.model(i), learnt[i])) << i;
        }
    }
    // The smallest rate that still learns keeps the exact arithmetic.
    MotionDetector d;
    ASSERT_TRUE(d.setParam(ALPHA_COEFF, 3e-39));
    feedFlat(d, 100);
    PixelModel expected{};
    referenceUpdate(expected, 100, 3e-39, 10, 5);
    EXPECT_TRUE(sameModel(stagesOf(d).background.model(0), expected));
    EXPECT_TRUE(std::isfinite(stagesOf(d).background.model(0).components[0].weight));
}
