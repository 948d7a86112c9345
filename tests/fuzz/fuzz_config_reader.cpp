// The configuration reader on arbitrary file contents: it must answer true
// or false, never crash or leak, leave the detector untouched when it
// answers false and every parameter in range when it answers true.
#include "config/ConfigReader.h"
#include "tests/fuzz/DetectorInvariants.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
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

// Every parameter in force, in table order.
std::vector<double> snapshot(const MotionDetector& d) {
    std::vector<double> values;
    for (const motion::Parameter& parameter : motion::parameterTable) values.push_back(d.getParam(parameter.id));
    return values;
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
    const std::vector<double> before = snapshot(detector);
    ConfigTexts texts{"unchanged", "unchanged"};
    const bool read = readConfiguration(configPath(), detector, texts);
    if (!read && snapshot(detector) != before) fail("a failed read changed the detector");
    if (!read && (texts.videoSourceInitString != "unchanged" || texts.regionMaskFile != "unchanged"))
        fail("a failed read changed the texts");
    const std::string broken = brokenParameter(detector);
    if (!broken.empty()) fail(broken);
    return 0;
}
