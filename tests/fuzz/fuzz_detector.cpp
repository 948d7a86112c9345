// The detector driven by an arbitrary sequence of calls decoded from the
// input: any parameter id and value (NaN and infinities included), frames of
// any size (refused ones too) and content, with and without a region mask,
// mask and object queries and resets. After every call the invariants of
// DetectorInvariants.h must hold.
//
// The seeds named crossing_squares* decode to runs of frames with two
// squares crossing at a steady pace, so that tracks form and are reported.
//
// Buffers are sized exactly to what the detector may touch, so AddressSanitizer
// catches any access beyond them; a refused size gets a one-byte frame.
// Accepted frames are kept to 256 K pixels and 64 K scaled pixels (an 8192 x 32
// frame fits, and so do over 10000 first-pass blobs) so that one input stays
// cheap.
#include "tests/fuzz/DetectorInvariants.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

using namespace detector_invariants;

constexpr size_t maxFramePixels = 8192 * 32;
constexpr size_t maxScaledPixels = 256 * 256;
constexpr size_t maxPixelsPerInput = 256 * 1024;
constexpr int maxOperations = 64;

void require(const std::string& broken, const char* after) {
    if (broken.empty()) return;
    std::fprintf(stderr, "invariant broken after %s: %s\n", after, broken.c_str());
    std::abort();
}

double parameterValue(FuzzedDataProvider& in) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    static constexpr double edges[] = {
        std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.0, -0.0, 0.5, 0.99, 1.0, 1.9, 2.0, 3.0, 8.0, 8.9,
        9.0, 10.0, 10.5, 255.0, 255.5, 8192.0, 8192.5, -1.0, 2147483648.0, -2147483649.0, 1e300,
        std::numeric_limits<double>::denorm_min()};
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: return in.PickValueInArray(edges);
    case 1: return in.ConsumeIntegralInRange(-2, 300);
    default: return in.ConsumeFloatingPoint<double>();
    }
}

int frameSide(FuzzedDataProvider& in) {
    static constexpr int edges[] = {INT_MIN, -64, -1, 0, 1, 31, 32, 8192, 8193, INT_MAX};
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return in.PickValueInArray(edges);
    case 1: return in.ConsumeIntegralInRange(32, 520); // large enough for over 10000 first-pass blobs
    default: return in.ConsumeIntegralInRange(32, 64);
    }
}

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 24;
}

// Two squares crossing at a steady pace, from frame number n alone, so that
// consecutive frames of this kind make tracks that get reported.
bool onCrossingSquares(int x, int y, int width, int n) {
    const int right = (4 + 3 * n) % width, left = width - 1 - (4 + 2 * n) % width;
    return y >= 8 && y < 20 && ((x >= right && x < right + 10) || (x > left - 12 && x <= left));
}

// Content that makes motion of several kinds against an earlier frame:
// flat, noise, isolated dots (one blob each), a bright box, raw input bytes,
// steadily moving squares.
void fillFrame(FuzzedDataProvider& in, std::vector<uint8_t>& frame, int width, int frameNumber) {
    const int kind = in.ConsumeIntegralInRange(0, 5);
    const uint8_t level = in.ConsumeIntegral<uint8_t>();
    uint32_t state = in.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 64));
    const int boxX = state % width, boxY = (state >> 8) % 64, boxSide = 4 + (state >> 16) % 40;
    for (size_t i = 0; i < frame.size(); ++i) {
        const int x = int(i % width), y = int(i / width);
        switch (kind) {
        case 0: frame[i] = level; break;
        case 1: frame[i] = uint8_t(nextRandom(state)); break;
        case 2: frame[i] = (x % 2 == 0 && y % 2 == 0) ? 255 : level; break;
        case 3: frame[i] = (x >= boxX && x < boxX + boxSide && y >= boxY && y < boxY + boxSide) ? 255 - level : level; break;
        case 4: frame[i] = raw.empty() ? level : raw[i % raw.size()]; break;
        default: frame[i] = onCrossingSquares(x, y, width, frameNumber) ? 230 : 20; break;
        }
    }
}

class Driver {
public:
    explicit Driver(FuzzedDataProvider& in) : in(in) {}

    void run() {
        for (int op = 0; op < maxOperations && in.remaining_bytes() > 0; ++op) {
            switch (in.ConsumeIntegralInRange(0, 5)) {
            case 0: setParam(); break;
            case 1:
            case 2: processFrame(); break;
            case 3: getMotionMask(); break;
            case 4: getObjects(); break;
            default:
                detector.reset();
                require(brokenInvariant(detector), "reset");
                break;
            }
        }
    }

private:
    void setParam() {
        const int id = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 20) : in.ConsumeIntegral<int>();
        detector.setParam(id, parameterValue(in));
        require(brokenInvariant(detector), "setParam");
    }

    void processFrame() {
        // Mostly the size of the last frame, as from a video: the detector
        // then keeps its state, and no input spends its time reallocating.
        if (in.ConsumeIntegralInRange(0, 3) == 0) {
            lastWidth = frameSide(in);
            lastHeight = frameSide(in);
        }
        const int w = lastWidth, h = lastHeight;
        const bool withRegionMask = in.ConsumeBool();
        const int oldWidth = stagesOf(detector).width, oldHeight = stagesOf(detector).height;
        const int factor = int(detector.getParam(SCALE_FACTOR));
        const bool acceptable = validSide(w) && validSide(h) && w % factor == 0 && h % factor == 0;
        const size_t pixels = acceptable ? size_t(w) * size_t(h) : 1;
        const size_t scaledPixels = pixels / (size_t(factor) * factor);
        if (pixels > maxFramePixels || scaledPixels > maxScaledPixels || pixelsFed + pixels > maxPixelsPerInput)
            return;
        pixelsFed += pixels;

        std::vector<uint8_t> frame(pixels);
        fillFrame(in, frame, acceptable ? w : 1, framesFed++);
        std::vector<uint8_t> regionMask;
        if (withRegionMask) {
            regionMask.resize(acceptable ? size_t(w / factor) * size_t(h / factor) : 1);
            fillFrame(in, regionMask, acceptable ? w / factor : 1, framesFed);
        }
        const bool accepted =
            detector.processFrame(frame.data(), w, h, withRegionMask ? regionMask.data() : nullptr);
        if (accepted != acceptable) require("frame accepted or refused against its size", "processFrame");
        if (accepted && (stagesOf(detector).width != w || stagesOf(detector).height != h))
            require("accepted frame size not taken over", "processFrame");
        if (!accepted && (stagesOf(detector).width != oldWidth || stagesOf(detector).height != oldHeight))
            require("refused frame changed the geometry", "processFrame");
        require(brokenInvariant(detector), "processFrame");
    }

    void getMotionMask() {
        constexpr uint8_t untouched = 0x5a;
        const size_t size = size_t(stagesOf(detector).width) * size_t(stagesOf(detector).height);
        std::vector<uint8_t> out(size == 0 ? 16 : size, size == 0 ? untouched : 0);
        detector.getMotionMask(out.data());
        for (uint8_t byte : out) {
            if (size == 0 && byte != untouched) require("mask written before any frame", "getMotionMask");
            if (size != 0 && byte != 0 && byte != 255) require("mask byte neither 0 nor 255", "getMotionMask");
        }
        require(brokenInvariant(detector), "getMotionMask");
    }

    void getObjects() {
        require(brokenObjects(detector.getObjects()), "getObjects");
        require(brokenInvariant(detector), "getObjects");
    }

    FuzzedDataProvider& in;
    MotionDetector detector;
    size_t pixelsFed = 0;
    int framesFed = 0;
    int lastWidth = 64;
    int lastHeight = 48;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Driver(in).run();
    return 0;
}
