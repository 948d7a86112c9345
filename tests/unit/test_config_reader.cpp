// The configuration reader: accepted files, JSON conversions and every way a
// file can fail.
#include "detector/MotionDetector.h"
#include "config/ConfigReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>


namespace {

// The fifteen keys with values that differ from every default.
std::map<std::string, std::string> validKeys() {
    return {
        {"video_source_init_string", "\"clip.avi\""},
        {"pixel_deviation", "12.5"},
        {"alpha_coeff", "0.02"},
        {"max_object_width", "100"},
        {"min_object_width", "3"},
        {"max_object_height", "101"},
        {"min_object_height", "4"},
        {"min_object_velocity", "0.2"},
        {"max_object_velocity", "15"},
        {"num_threads", "2"},
        {"track_detection_criterion", "10"},
        {"track_reset_criterion", "6"},
        {"min_distance_between_objects", "20"},
        {"scale_factor", "2"},
        {"num_gauss_elements_in_pixel_model", "4"},
    };
}

std::string document(const std::map<std::string, std::string>& keys) {
    std::string body;
    for (const auto& [key, value] : keys) body += (body.empty() ? "" : ",\n") + ("\"" + key + "\": " + value);
    return "{\"Config_Params\": {\n" + body + "\n}}";
}

class ConfigReader : public ::testing::Test {
protected:
    // One file per test and process: CTest runs the tests side by side.
    std::string path = ::testing::TempDir() + "config_reader_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                       std::to_string(getpid()) + ".json";
    MotionDetector detector;
    ConfigTexts texts{"unchanged", "unchanged"};

    void TearDown() override { std::remove(path.c_str()); }

    bool read(const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        return readConfiguration(path, detector, texts);
    }
    bool readWith(const std::string& key, const std::string& value) {
        auto keys = validKeys();
        keys[key] = value;
        return read(document(keys));
    }
    void expectDefaults() {
        EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 10.0);
        EXPECT_EQ(detector.getParam(NUM_THREADS), 1);
        EXPECT_EQ(detector.getParam(SCALE_FACTOR), 1);
        EXPECT_EQ(detector.getParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL), 5);
    }
};

} // namespace

TEST_F(ConfigReader, AppliesEveryKey) {
    ASSERT_TRUE(read(document(validKeys())));
    EXPECT_EQ(texts.videoSourceInitString, "clip.avi");
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 12.5);
    EXPECT_EQ(detector.getParam(ALPHA_COEFF), 0.02);
    EXPECT_EQ(detector.getParam(MAX_OBJECT_WIDTH), 100);
    EXPECT_EQ(detector.getParam(MIN_OBJECT_WIDTH), 3);
    EXPECT_EQ(detector.getParam(MAX_OBJECT_HEIGHT), 101);
    EXPECT_EQ(detector.getParam(MIN_OBJECT_HEIGHT), 4);
    EXPECT_EQ(detector.getParam(MIN_OBJECT_VELOCITY), 0.2);
    EXPECT_EQ(detector.getParam(MAX_OBJECT_VELOCITY), 15.0);
    EXPECT_EQ(detector.getParam(NUM_THREADS), 2);
    EXPECT_EQ(detector.getParam(TRACK_DETECTION_CRITERION), 10);
    EXPECT_EQ(detector.getParam(TRACK_RESET_CRITERION), 6);
    EXPECT_EQ(detector.getParam(MIN_DISTANCE_BETWEEN_OBJECTS), 20);
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 2);
    EXPECT_EQ(detector.getParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL), 4);
}

TEST_F(ConfigReader, IntKeysTruncateFractionsAndAcceptBooleans) {
    ASSERT_TRUE(readWith("num_threads", "2.9"));
    EXPECT_EQ(detector.getParam(NUM_THREADS), 2);
    ASSERT_TRUE(readWith("num_threads", "true"));
    EXPECT_EQ(detector.getParam(NUM_THREADS), 1);
    ASSERT_TRUE(readWith("num_threads", "false"));
    EXPECT_EQ(detector.getParam(NUM_THREADS), 0);
    ASSERT_TRUE(readWith("scale_factor", "3e0"));
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 3);
}

TEST_F(ConfigReader, RefusedValuesKeepDefaultsButReadingSucceeds) {
    auto keys = validKeys();
    keys["scale_factor"] = "9";
    keys["pixel_deviation"] = "-1";
    ASSERT_TRUE(read(document(keys)));
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 1);
    EXPECT_EQ(detector.getParam(PIXEL_DEVIATION), 10.0);
    EXPECT_EQ(detector.getParam(NUM_THREADS), 2) << "the other keys are still applied";
}

TEST_F(ConfigReader, IntegersBeyondTheIntRangeAreRefusedNotWrapped) {
    // 4294967298 would wrap to 2 in 32 bits; it must be refused instead.
    for (const char* huge : {"4294967298", "1e10", "-4294967294", "18446744073709551615", "1e300"}) {
        MotionDetector fresh;
        ConfigTexts text;
        auto keys = validKeys();
        keys["scale_factor"] = huge;
        keys["num_threads"] = huge;
        std::ofstream(path, std::ios::binary) << document(keys);
        ASSERT_TRUE(readConfiguration(path, fresh, text)) << huge;
        EXPECT_EQ(fresh.getParam(SCALE_FACTOR), 1) << huge;
        EXPECT_EQ(fresh.getParam(NUM_THREADS), 1) << huge;
    }
}

TEST_F(ConfigReader, RegionMaskFileIsOptionalTextAndAFailedReadKeepsBothTexts) {
    ASSERT_TRUE(read(document(validKeys())));
    EXPECT_EQ(texts.regionMaskFile, "");
    ASSERT_TRUE(readWith("region_mask_file", "\"zones.png\""));
    EXPECT_EQ(texts.regionMaskFile, "zones.png");
    for (const char* wrong : {"1", "null", "false", "[\"a.png\"]"}) {
        EXPECT_FALSE(readWith("region_mask_file", wrong)) << wrong;
        EXPECT_EQ(texts.regionMaskFile, "zones.png") << wrong;
    }
    EXPECT_FALSE(readWith("pixel_deviation", "\"10\""));
    EXPECT_EQ(texts.videoSourceInitString, "clip.avi");
}

TEST_F(ConfigReader, WrongTypesFailAndApplyNothing) {
    EXPECT_FALSE(readWith("alpha_coeff", "true"));
    EXPECT_FALSE(readWith("video_source_init_string", "0"));
    EXPECT_FALSE(readWith("pixel_deviation", "\"10\""));
    EXPECT_FALSE(readWith("num_threads", "null"));
    EXPECT_FALSE(readWith("scale_factor", "[2]"));
    EXPECT_FALSE(readWith("scale_factor", "{}"));
    expectDefaults();
}

TEST_F(ConfigReader, MissingKeysFail) {
    for (const auto& [key, value] : validKeys()) {
        auto keys = validKeys();
        keys.erase(key);
        EXPECT_FALSE(read(document(keys))) << key;
    }
    auto keys = validKeys();
    keys.erase("scale_factor");
    keys["Scale_Factor"] = "2";
    EXPECT_FALSE(read(document(keys))) << "key names are case-sensitive";
    expectDefaults();
}

TEST_F(ConfigReader, TheLightingChangeFractionIsOptionalButTyped) {
    ASSERT_TRUE(read(document(validKeys())));
    EXPECT_EQ(detector.getParam(LIGHTING_CHANGE_FRACTION), 0.0);
    ASSERT_TRUE(readWith("lighting_change_fraction", "0.2"));
    EXPECT_EQ(detector.getParam(LIGHTING_CHANGE_FRACTION), 0.2);
    EXPECT_FALSE(readWith("lighting_change_fraction", "\"0.2\""));
    EXPECT_FALSE(readWith("lighting_change_fraction", "true"));
}

TEST_F(ConfigReader, ExtraMembersAreIgnored) {
    auto keys = validKeys();
    keys["comment"] = "\"anything\"";
    const std::string text = document(keys);
    EXPECT_TRUE(read("{\"before\": [1, 2], " + text.substr(1, text.size() - 2) + ", \"after\": null}"));
    EXPECT_EQ(detector.getParam(SCALE_FACTOR), 2);
}

TEST_F(ConfigReader, UnreadableFilesFail) {
    EXPECT_FALSE(readConfiguration(::testing::TempDir() + "no_such_dir/none.json", detector, texts));
    EXPECT_FALSE(read(""));
    EXPECT_FALSE(read("{"));
    EXPECT_FALSE(read("// comment\n" + document(validKeys())));
    EXPECT_FALSE(read(document(validKeys()) + " {}"));
    EXPECT_FALSE(read("[1, 2, 3]"));
    EXPECT_FALSE(read("{\"Other\": {}}"));
    EXPECT_FALSE(read("{\"Config_Params\": 5}"));
    EXPECT_FALSE(readWith("pixel_deviation", "1e999")) << "beyond the double range";
    EXPECT_FALSE(readConfiguration(::testing::TempDir(), detector, texts)) << "a directory";
    expectDefaults();
}

TEST_F(ConfigReader, TextKeepsEscapesAndUtf8) {
    ASSERT_TRUE(readWith("video_source_init_string", "\"dir\\/caf\\u00e9 clip.avi\""));
    EXPECT_EQ(texts.videoSourceInitString, "dir/caf\xc3\xa9 clip.avi");
}
