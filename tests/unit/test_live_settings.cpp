// Live settings: changes are checked as the configuration file is read,
// take effect only between frames, and are written back without disturbing
// the rest of the file, or not at all.
#include "config/ConfigReader.h"
#include "config/LiveSettings.h"
#include "detector/MotionDetector.h"
#include "detector/parameters/Parameters.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const smallConfig = R"({
    "note": "not read by the program",
    "Config_Params": {
        "pixel_deviation": 10.0,
        "zone_colour": "red",
        "num_threads": 1
    }
}
)";

std::string contents(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class LiveSettingsTest : public ::testing::Test {
protected:
    // A directory of its own per test, so that leftovers show.
    fs::path directory = [] {
        std::string pattern = ::testing::TempDir() + "live_settings_XXXXXX";
        return fs::path(mkdtemp(pattern.data()));
    }();
    fs::path config = directory / "config.json";
    MotionDetector detector;

    void SetUp() override { std::ofstream(config, std::ios::binary) << smallConfig; }
    void TearDown() override { fs::remove_all(directory); }
    void expectOnlyTheConfigIn() {
        EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
    }
};

} // namespace

// The reference is the configuration reader: what it gives the detector
// for a value, submit gives too, and what the detector would refuse (or the
// reader fails on), submit refuses, naming the key and changing nothing.
TEST_F(LiveSettingsTest, TakesExactlyWhatTheFileReaderGivesTheDetector) {
    json document = json::parse(std::ifstream(MOTION_SOURCE_DIR "/Config_Params.json"));
    for (const motion::Parameter& parameter : motion::parameterTable) {
        for (const json& value : json::array({true, false, 2.9, -1, 0.5, 8.9, 9, 300, 4294967298.0, 1e300, "2",
                                              nullptr, json::array({2})})) {
            SCOPED_TRACE(std::string(parameter.key) + " = " + value.dump());
            document["Config_Params"][parameter.key] = value;
            std::ofstream(config, std::ios::binary) << document.dump();
            MotionDetector fromFile;
            fromFile.setParam(parameter.id, parameter.high); // tells a refused value from an applied one
            ConfigTexts texts;
            const bool read = readConfiguration(config, fromFile, texts);

            MotionDetector live;
            LiveSettings settings(config, live, "");
            const std::string error = settings.submit({{parameter.key, value}});
            settings.applyPending(live);
            if (error.empty()) {
                EXPECT_TRUE(read);
                EXPECT_EQ(live.getParam(parameter.id), fromFile.getParam(parameter.id));
            } else {
                EXPECT_TRUE(!read || fromFile.getParam(parameter.id) == parameter.high);
                EXPECT_EQ(error.rfind(std::string(parameter.key) + ": ", 0), 0u) << error;
                EXPECT_EQ(live.getParam(parameter.id), parameter.defaultValue);
            }
        }
        document["Config_Params"][parameter.key] = parameter.defaultValue;
    }
}

// A refused change leaves nothing queued: the listener hears of the
// accepted change alone, once, after applyPending.
TEST_F(LiveSettingsTest, AllOrNothingThenAppliedBetweenFrames) {
    LiveSettings settings(config, detector, "");
    std::vector<json> told;
    settings.onApplied([&](const json& applied) { told.push_back(applied); });
    EXPECT_EQ(settings.submit({{"alpha_coeff", 0.5}, {"pixel_deviation", 300}}),
              "pixel_deviation: 300 is outside 0..255");
    EXPECT_EQ(settings.submit({{"alpha_coeff", true}, {"pixel_deviation", 12}}), "alpha_coeff: true is not a number");
    EXPECT_EQ(settings.submit({{"num_threads", 2}, {"region_mask_file", "a.png"}}),
              "region_mask_file: not a parameter that can change while running");
    EXPECT_EQ(settings.persist({{"num_threads", 2}, {"region_mask_file", 1}}), "region_mask_file: 1 is not a text");
    EXPECT_EQ(contents(config), smallConfig);

    ASSERT_EQ(settings.submit({{"pixel_deviation", 12}, {"scale_factor", 2.5}}), "");
    EXPECT_EQ(settings.current()["scale_factor"], 2) << "queued values are shown";
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 1) << "but not in force before applyPending";
    settings.applyPending(detector);
    settings.applyPending(detector);
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 12.0);
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 2);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].dump(), R"({"pixel_deviation":12.0,"scale_factor":2})");
}

// Failures: a write that stops halfway (the file size limit, which binds
// root too) and, for other users, a directory that takes no new file.
TEST_F(LiveSettingsTest, PersistChangesOnlyItsKeysOrNothing) {
    const auto readWrite = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(config, readWrite);
    LiveSettings settings(config, detector, "");
    const json changes = {{"pixel_deviation", 12}, {"num_threads", 2.7}, {"region_mask_file", "zones.png"}};

    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{64, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = settings.persist(changes);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(contents(config), smallConfig);
    expectOnlyTheConfigIn();
    if (geteuid() != 0) { // root writes into any directory
        fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_NE(settings.persist(changes), "");
        EXPECT_EQ(contents(config), smallConfig);
        fs::permissions(directory, fs::perms::owner_all);
    }

    ASSERT_EQ(settings.persist(changes), "");
    EXPECT_EQ(contents(config), R"({
    "note": "not read by the program",
    "Config_Params": {
        "pixel_deviation": 12.0,
        "zone_colour": "red",
        "num_threads": 2,
        "region_mask_file": "zones.png"
    }
}
)");
    EXPECT_EQ(fs::status(config).permissions(), readWrite);
    EXPECT_EQ(settings.current()["region_mask_file"], "zones.png");
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 10.0) << "persist writes the file only";
    expectOnlyTheConfigIn();
}
