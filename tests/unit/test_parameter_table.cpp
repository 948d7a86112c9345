// The parameter table against what users read and ship: the README's
// configuration table and Config_Params.json must list the same keys with
// the same ranges and defaults.
#include "detector/parameters/Parameters.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <regex>
#include <string>

using motion::parameterTable;

namespace {

struct Documented {
    double low;
    double high;
    double defaultValue;
};

// The numeric rows of the README's table: | `key` | meaning | unit | low to high | default |
std::map<std::string, Documented> readmeRows() {
    std::ifstream readme(MOTION_SOURCE_DIR "/README.md");
    const std::regex row(R"(^\| `([a-z_]+)` \|.*\| ([-0-9.]+) to ([-0-9.]+) \| ([-0-9.]+) \|$)");
    std::map<std::string, Documented> rows;
    std::smatch m;
    for (std::string line; std::getline(readme, line);)
        if (std::regex_match(line, m, row)) rows[m[1]] = {std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
    return rows;
}

} // namespace

TEST(ParameterTable, AgreesWithTheReadmeAndTheShippedConfiguration) {
    const std::map<std::string, Documented> documented = readmeRows();
    std::ifstream file(MOTION_SOURCE_DIR "/Config_Params.json");
    const nlohmann::json shipped = nlohmann::json::parse(file).at("Config_Params");
    EXPECT_EQ(documented.size(), parameterTable.size());
    EXPECT_EQ(shipped.size(), parameterTable.size() + 1) << "the numeric keys and the video source";
    for (const motion::ParameterSpec& spec : parameterTable) {
        SCOPED_TRACE(spec.key);
        const auto row = documented.find(spec.key);
        ASSERT_NE(row, documented.end());
        EXPECT_EQ(row->second.low, spec.low);
        EXPECT_EQ(row->second.high, spec.high);
        EXPECT_EQ(row->second.defaultValue, spec.defaultValue);
        ASSERT_TRUE(shipped.contains(spec.key));
        EXPECT_EQ(shipped.at(spec.key).get<double>(), spec.defaultValue);
        EXPECT_EQ(shipped.at(spec.key).is_number_integer(), spec.isInteger());
    }
}
