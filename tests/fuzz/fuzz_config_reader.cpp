// The configuration reader on arbitrary file contents: it must answer true
// or false, never crash or leak, leave the detector untouched when it
// answers false and every parameter in range when it answers true.
#include "config/ConfigReader.h"
#include "tests/fuzz/DetectorInvariants.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace detector_invariants;

const std::string& configPath() {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_config_reader.XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(name);
    }();
    return path;
}

struct Snapshot {
    double values[14];
    bool operator==(const Snapshot& o) const {
        for (int i = 0; i < 14; ++i)
            if (!(values[i] == o.values[i])) return false;
        return true;
    }
};

Snapshot snapshot(const MotionDetector& d) {
    return {{A::pixelDeviation(d), A::alphaCoeff(d), double(A::minObjectWidth(d)), double(A::maxObjectWidth(d)),
             double(A::minObjectHeight(d)), double(A::maxObjectHeight(d)), A::minObjectVelocity(d),
             A::maxObjectVelocity(d), double(A::numThreads(d)), double(A::trackDetectionCriterion(d)),
             double(A::trackResetCriterion(d)), double(A::minDistanceBetweenObjects(d)), double(A::scaleFactor(d)),
             double(A::numGaussElements(d))}};
}

void fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream file(configPath(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    static MotionDetector detector; // setParam alone never allocates before a frame
    const Snapshot before = snapshot(detector);
    std::string source;
    const bool read = readConfiguration(configPath(), detector, source);
    if (!read && !(snapshot(detector) == before)) fail("a failed read changed the detector");
    const std::string broken = brokenParameter(detector);
    if (!broken.empty()) fail(broken);
    return 0;
}
