// Live settings: changes are checked as the configuration file is read,
// take effect only between frames, and are written back without disturbing
// the rest of the file, or not at all.
#include "config/ConfigReader.h"
#include "config/LiveSettings.h"
#include "detector/MotionDetector.h"
#include "detector/parameters/Parameters.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const configText = R"({
    "note": "not read by the program",
    "Config_Params": {
        "video_source_init_string": "samples/vtest.avi",
        "pixel_deviation": 10.0,
        "alpha_coeff": 0.01,
        "max_object_width": 128,
        "min_object_width": 2,
        "max_object_height": 128,
        "min_object_height": 2,
        "min_object_velocity": 0.1,
        "max_object_velocity": 20.0,
        "num_threads": 1,
        "zone_colour": "red",
        "track_detection_criterion": 15,
        "track_reset_criterion": 5,
        "min_distance_between_objects": 16,
        "scale_factor": 1,
        "num_gauss_elements_in_pixel_model": 5
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
    // A directory of its own per test, so that leftovers are seen.
    fs::path directory = [] {
        std::string pattern = ::testing::TempDir() + "live_settings_XXXXXX";
        return fs::path(mkdtemp(pattern.data()));
    }();
    fs::path config = directory / "config.json";
    MotionDetector detector;

    void SetUp() override { std::ofstream(config, std::ios::binary) << configText; }
    void TearDown() override {
        fs::permissions(directory, fs::perms::owner_all);
        fs::remove_all(directory);
    }
    void expectOnlyTheConfigIn() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
        EXPECT_EQ(files, std::vector<fs::path>{config});
    }
};

} // namespace

// The reference is the configuration reader: what it gives the detector
// for a value, submit gives too, and what the detector would refuse (or the
// reader fails on), submit refuses, naming the key and changing nothing.
TEST_F(LiveSettingsTest, TakesExactlyWhatTheFileReaderGivesTheDetector) {
    const json candidates = json::array({true, false, 2.9, -1, 0.5, 8.9, 9, 300, 4294967298.0, 1e300, "2", nullptr,
                                         json::array({2})});
    for (const motion::Parameter& parameter : motion::parameterTable) {
        for (const json& value : candidates) {
            SCOPED_TRACE(std::string(parameter.key) + " = " + value.dump());
            json document = json::parse(configText);
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
    }
}

TEST_F(LiveSettingsTest, AllOrNothingWithTheFirstOffendingKeyNamed) {
    LiveSettings settings(config, detector, "zones.png");
    const json before = settings.current();
    int told = 0;
    settings.onApplied([&](const json&) { ++told; });
    const std::pair<json, std::string> refused[] = {
        {{{"alpha_coeff", 0.5}, {"pixel_deviation", 300}}, "pixel_deviation: 300 is outside 0..255"},
        {{{"alpha_coeff", true}, {"pixel_deviation", 300}}, "alpha_coeff: true is not a number"},
        {{{"scale_factor", 9.5}}, "scale_factor: 9.5 is outside 1..8"},
        {{{"num_threads", 2}, {"frame_rate", 5}}, "frame_rate: not a parameter that can change while running"},
        {{{"region_mask_file", "other.png"}}, "region_mask_file: not a parameter that can change while running"},
        {json::array({1}), "changes must be a JSON object, not array"},
    };
    for (const auto& [changes, error] : refused) EXPECT_EQ(settings.submit(changes), error);
    EXPECT_EQ(settings.persist({{"num_threads", "2"}}), "num_threads: \"2\" is not a number");
    EXPECT_EQ(settings.persist({{"region_mask_file", 1}}), "region_mask_file: 1 is not a text");
    settings.applyPending(detector);
    EXPECT_EQ(told, 0);
    EXPECT_EQ(settings.current(), before);
    EXPECT_EQ(detector.getParam(ALPHA_COEFF), 0.01);
    EXPECT_EQ(contents(config), configText);
}

TEST_F(LiveSettingsTest, AppliedBetweenFramesAndListenersTold) {
    LiveSettings settings(config, detector, "");
    std::vector<json> told;
    settings.onApplied([&](const json& applied) { told.push_back(applied); });
    ASSERT_EQ(settings.submit({{"pixel_deviation", 12}, {"scale_factor", 2.5}}), "");
    EXPECT_EQ(settings.current()["pixel_deviation"], 12.0) << "queued values are shown";
    EXPECT_EQ(settings.current()["scale_factor"], 2);
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 10.0) << "but not in force before applyPending";
    settings.applyPending(detector);
    settings.applyPending(detector);
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 12.0);
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 2);
    ASSERT_EQ(told.size(), 1u) << "told once, of what changed";
    EXPECT_EQ(told[0].dump(), R"({"pixel_deviation":12.0,"scale_factor":2})");
}

TEST_F(LiveSettingsTest, PersistChangesOnlyItsKeys) {
    fs::permissions(config, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    LiveSettings settings(config, detector, "");
    ASSERT_EQ(settings.persist({{"pixel_deviation", 12}, {"num_threads", 2.7}, {"region_mask_file", "zones.png"}}),
              "");
    std::string expected = configText;
    auto replace = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace("\"pixel_deviation\": 10.0", "\"pixel_deviation\": 12.0");
    replace("\"num_threads\": 1", "\"num_threads\": 2");
    replace(": 5\n", ": 5,\n        \"region_mask_file\": \"zones.png\"\n");
    EXPECT_EQ(contents(config), expected);
    EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(settings.current()["region_mask_file"], "zones.png");
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 10.0) << "persist writes the file only";
    expectOnlyTheConfigIn();
}

// A write that fails halfway (the file size limit, which binds root too)
// and, for other users, a directory that cannot take a new file.
TEST_F(LiveSettingsTest, AFailedPersistLeavesTheFileAsItWas) {
    LiveSettings settings(config, detector, "");
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{64, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = settings.persist({{"pixel_deviation", 12}});
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(contents(config), configText);
    expectOnlyTheConfigIn();

    if (geteuid() == 0) return; // root writes into any directory
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_NE(settings.persist({{"pixel_deviation", 12}}), "");
    EXPECT_EQ(contents(config), configText);
    expectOnlyTheConfigIn();
}
