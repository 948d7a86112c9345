// Long run of the detector on a generated 160 x 120 scene: noise, objects
// that appear at an edge, move, cross each other, stop a while and leave,
// and steps in the lighting; resets, parameter changes and stretches with a
// region mask on the way.
//
// Passes when every invariant holds throughout, the number of tracks stays
// bounded, and resident memory after the warm-up grows by less than 1 MiB.
// The warm-up runs through every scale factor, thread setting and parameter
// phase once, so that every buffer size and the thread team have been seen.
//
//   soak_detector [FRAMES]   (default 200000)
#include "tests/fuzz/DetectorInvariants.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace detector_invariants;

constexpr int width = 160;
constexpr int height = 120;
constexpr int warmUpFrames = 1000;
constexpr int phaseFrames = 5000;
constexpr int resetEvery = 23000;
constexpr int regionMaskEvery = 7000; // every other such stretch leaves out the left third
constexpr size_t maxTracks = 1000; // far above what six actors and noise give, far below a leak of tracks
constexpr long maxGrowthBytes = 1024 * 1024;

class Random {
public:
    explicit Random(uint32_t seed) : state(seed) {}
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int between(int low, int high) { return low + int(next() % uint32_t(high - low + 1)); }

private:
    uint32_t state;
};

// A rectangle that enters at the left or right edge, crosses at its own
// speed, pauses once on the way and leaves; then waits off-screen and
// comes back on another row.
struct Actor {
    float x = -1000;
    float y = 0;
    float speed = 0;
    int side = 10;
    uint8_t grey = 200;
    int pauseAt = 0;   // column where it stops
    int pauseLeft = 0; // frames still to stand
    int offScreenWait = 0;

    bool visible() const { return x + side > 0 && x < width; }

    void respawn(Random& random) {
        side = random.between(6, 22);
        y = float(random.between(0, height - side));
        const bool fromLeft = random.next() % 2 == 0;
        speed = float(random.between(5, 30)) / 10.0f * (fromLeft ? 1.0f : -1.0f);
        x = fromLeft ? float(-side) : float(width);
        grey = random.next() % 3 == 0 ? uint8_t(random.between(5, 30)) : uint8_t(random.between(170, 250));
        pauseAt = random.between(20, width - 40);
        pauseLeft = random.next() % 2 == 0 ? random.between(20, 400) : 0;
        offScreenWait = random.between(0, 300);
    }

    void step(Random& random) {
        if (!visible() && (speed > 0 ? x >= width : x + side <= 0)) {
            if (offScreenWait-- <= 0) respawn(random);
            return;
        }
        if (pauseLeft > 0 && int(x) == pauseAt) {
            --pauseLeft;
            return;
        }
        const float before = x;
        x += speed;
        // Make sure a pause column is hit even at fractional speeds.
        if (pauseLeft > 0 && (before - pauseAt) * (x - pauseAt) < 0) x = float(pauseAt);
    }
};

class Scene {
public:
    Scene() : random(20240607), background(size_t(width) * height), actors(6) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) background[size_t(y) * width + x] = uint8_t(60 + (x * 7 + y * 13) % 40);
        for (Actor& a : actors) a.offScreenWait = random.between(0, 200);
    }

    void render(int frameIndex, std::vector<uint8_t>& frame) {
        for (Actor& a : actors) a.step(random);
        static const int lighting[] = {0, 25, -15, 10, 40, -30};
        const int light = lighting[(frameIndex / 1700) % 6];
        for (size_t i = 0; i < frame.size(); ++i) {
            const int noise = int(random.next() % 7) - 3;
            frame[i] = uint8_t(std::clamp(background[i] + light + noise, 0, 255));
        }
        for (const Actor& a : actors) {
            if (!a.visible()) continue;
            const int x0 = std::max(0, int(a.x)), x1 = std::min(width, int(a.x) + a.side);
            const int y0 = int(a.y), y1 = std::min(height, int(a.y) + a.side);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) frame[size_t(y) * width + x] = uint8_t(std::clamp(a.grey + light, 0, 255));
        }
    }

private:
    Random random;
    std::vector<uint8_t> background;
    std::vector<Actor> actors;
};

struct Setting {
    int id;
    double value;
};

// Parameter phases, applied one after another every phaseFrames frames and
// also in quick succession during the warm-up. The frame size 160 x 120 is
// not divisible by 3, so the factor-3 phase is one of refused frames.
const std::vector<std::vector<Setting>> phases = {
    {{SCALE_FACTOR, 1}, {NUM_THREADS, 1}, {NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 5}, {MAX_OBJECT_VELOCITY, 20},
     {TRACK_RESET_CRITERION, 5}, {MIN_DISTANCE_BETWEEN_OBJECTS, 16}, {PIXEL_DEVIATION, 10}, {ALPHA_COEFF, 0.01}},
    {{SCALE_FACTOR, 2}, {NUM_THREADS, 2}},
    {{SCALE_FACTOR, 4}, {NUM_THREADS, 0}, {NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 3}},
    {{SCALE_FACTOR, 3}},
    {{SCALE_FACTOR, 1}, {NUM_THREADS, 1}, {MAX_OBJECT_VELOCITY, 0}},
    {{MAX_OBJECT_VELOCITY, 20}, {TRACK_RESET_CRITERION, 0}},
    {{TRACK_RESET_CRITERION, 255}, {MIN_DISTANCE_BETWEEN_OBJECTS, 8192}},
    {{MIN_DISTANCE_BETWEEN_OBJECTS, 1}, {NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, 10}, {PIXEL_DEVIATION, 3},
     {ALPHA_COEFF, 0.1}, {TRACK_RESET_CRITERION, 5}},
    {{SCALE_FACTOR, 8}, {NUM_THREADS, 3}, {MIN_DISTANCE_BETWEEN_OBJECTS, 4}},
};

// A region mask for the current scale factor that leaves out the left third.
const std::vector<uint8_t>& rightTwoThirds(int factor) {
    static std::vector<uint8_t> masks[9];
    std::vector<uint8_t>& mask = masks[factor];
    if (mask.empty()) {
        const int w = width / factor, h = height / factor;
        mask.resize(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) mask[size_t(y) * w + x] = x < w / 3 ? 0 : 1;
    }
    return mask;
}

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

[[noreturn]] void fail(int frame, const std::string& what) {
    std::fprintf(stderr, "FAIL at frame %d: %s\n", frame, what.c_str());
    std::exit(1);
}

void apply(MotionDetector& detector, const std::vector<Setting>& settings, int frame) {
    for (const Setting& s : settings)
        if (!detector.setParam(s.id, s.value)) fail(frame, "setParam(" + std::to_string(s.id) + ") refused");
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200000;
    if (frames <= warmUpFrames) {
        std::fprintf(stderr, "usage: soak_detector [FRAMES > %d]\n", warmUpFrames);
        return 2;
    }
    // A fixed mmap threshold: buffers of 64 KiB and more come from and go
    // back to the system directly, so reallocations on scale changes cannot
    // leave the heap fragmented and the resident size measures the detector
    // rather than the allocator's adaptive heuristics.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);

    for (int factor = 1; factor <= 8; ++factor) rightTwoThirds(factor); // allocated before any measurement
    MotionDetector detector;
    Scene scene;
    std::vector<uint8_t> frame(size_t(width) * height);
    std::vector<uint8_t> motionMask(frame.size());
    const int warmUpPhaseFrames = warmUpFrames / int(phases.size() + 1);
    long baseline = 0, peak = 0;
    size_t peakTracks = 0, peakObjects = 0;
    int accepted = 0;
    const auto started = std::chrono::steady_clock::now();

    for (int f = 0; f < frames; ++f) {
        const int phaseLength = f < warmUpFrames ? warmUpPhaseFrames : phaseFrames;
        if (f % phaseLength == 0) apply(detector, phases[size_t(f / phaseLength) % phases.size()], f);
        if (f % resetEvery == resetEvery - 1) detector.reset();

        scene.render(f, frame);
        const bool masked = (f / regionMaskEvery) % 2 == 1;
        const uint8_t* region = masked ? rightTwoThirds(int(detector.getParam(SCALE_FACTOR))).data() : nullptr;
        accepted += detector.processFrame(frame.data(), width, height, region);
        detector.getMotionMask(motionMask.data());
        const std::vector<DetectedObject> objects = detector.getObjects();

        const std::string broken = brokenObjects(objects);
        if (!broken.empty()) fail(f, broken);
        const size_t trackCount = stagesOf(detector).tracker.tracks().size();
        peakTracks = std::max(peakTracks, trackCount);
        peakObjects = std::max(peakObjects, objects.size());
        if (trackCount > maxTracks) fail(f, std::to_string(trackCount) + " tracks");
        if (f % 100 == 0) {
            const std::string invariant = brokenInvariant(detector);
            if (!invariant.empty()) fail(f, invariant);
        }
        if (f == warmUpFrames) baseline = residentBytes();
        if (f > warmUpFrames && f % 1000 == 0) peak = std::max(peak, residentBytes());
    }
    peak = std::max(peak, residentBytes());

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long growth = peak - baseline;
    std::printf("%d frames (%d accepted) in %.1f s; resident %ld KiB after warm-up, growth %ld KiB; "
                "at most %zu tracks and %zu objects\n",
                frames, accepted, seconds, baseline / 1024, growth / 1024, peakTracks, peakObjects);
    if (growth >= maxGrowthBytes) fail(frames, "resident memory grew by " + std::to_string(growth) + " bytes");
    return 0;
}
