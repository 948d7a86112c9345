// The parameter table against what users read and ship: the README's
// configuration table and Config_Params.json must list the same keys with
// the same ranges and defaults.
#include "detector/parameters/Parameters.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <regex>
#include <set>
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
    std::set<std::string> keys;
    for (const motion::Parameter& parameter : parameterTable) {
        SCOPED_TRACE(parameter.key);
        keys.insert(parameter.key);
        const auto row = documented.find(parameter.key);
        ASSERT_NE(row, documented.end());
        EXPECT_EQ(row->second.low, parameter.low);
        EXPECT_EQ(row->second.high, parameter.high);
        EXPECT_EQ(row->second.defaultValue, parameter.defaultValue);
        if (parameter.presence == motion::Presence::optional && !shipped.contains(parameter.key)) continue;
        ASSERT_TRUE(shipped.contains(parameter.key));
        EXPECT_EQ(shipped.at(parameter.key).get<double>(), parameter.defaultValue);
        EXPECT_EQ(shipped.at(parameter.key).is_number_integer(), parameter.isInteger());
    }
    for (const auto& [key, value] : shipped.items()) {
        if (!value.is_number()) continue;
        EXPECT_EQ(keys.count(key), 1u) << key << " is not in the parameter table";
    }
}
