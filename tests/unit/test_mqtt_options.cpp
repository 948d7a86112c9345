// What motion_watch accepts for its broker before it connects: the address,
// the login file and the names that become topic levels. A wrong one must
// be refused at the start, not turn into a connection to the wrong port, a
// wrong password or a topic with a wildcard in it.
#include "mqtt/MqttOptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

TEST(MqttOptions, BrokerAddresses) {
    struct Case {
        const char* text;
        const char* host; // null: refused
        int port;
    };
    const Case cases[] = {
        {"broker.local", "broker.local", 1883}, {"10.0.0.2:8883", "10.0.0.2", 8883}, {"h:65535", "h", 65535},
        {"::1", "::1", 1883},                   {"[::1]", "::1", 1883},             {"[fe80::1]:1884", "fe80::1", 1884},
        {"h:0", nullptr, 0},                    {"h:65536", nullptr, 0},            {"h:", nullptr, 0},
        {"h:12a", nullptr, 0},                  {"h:-1", nullptr, 0},               {":1883", nullptr, 0},
        {"", nullptr, 0},                       {"[::1", nullptr, 0},               {"[::1]x", nullptr, 0},
        {"[]:1883", nullptr, 0},
    };
    for (const Case& c : cases) {
        std::string host = "unchanged";
        int port = 1883;
        EXPECT_EQ(parseBrokerAddress(c.text, host, port), c.host != nullptr) << c.text;
        EXPECT_EQ(host, c.host != nullptr ? c.host : "unchanged") << c.text;
        EXPECT_EQ(port, c.host != nullptr ? c.port : 1883) << c.text;
    }
}

TEST(MqttOptions, LoginFile) {
    const std::string path = ::testing::TempDir() + "mqtt-login";
    auto read = [&](const std::string& text, std::string& user, std::string& password) {
        std::ofstream(path) << text;
        return readMqttLogin(path, user, password);
    };
    std::string user, password;
    EXPECT_EQ(read("cam:se:cr:et\r\nsecond:line\n", user, password), "");
    EXPECT_EQ(user, "cam");
    EXPECT_EQ(password, "se:cr:et"); // split at the first colon, line end without CR
    EXPECT_EQ(read("cam:", user, password), "");
    EXPECT_EQ(password, "");
    for (const char* wrong : {"", "camsecret\n", ":secret\n"}) EXPECT_NE(read(wrong, user, password), "") << wrong;
    std::remove(path.c_str());
    EXPECT_NE(readMqttLogin(path, user, password), "");
}

TEST(MqttOptions, NamesThatCanBeTopics) {
    MqttOptions options;
    options.name = "frontdoor";
    EXPECT_EQ(checkMqttNames(options), "");
    options.prefix = "home/cams";
    options.discoveryPrefix = ""; // no discovery
    EXPECT_EQ(checkMqttNames(options), "");
    const std::vector<std::string> wrongNames = {"", "front/door", "front+", "#", std::string("a\0b", 3)};
    for (const std::string& name : wrongNames) {
        MqttOptions wrong = options;
        wrong.name = name;
        EXPECT_NE(checkMqttNames(wrong), "") << name;
    }
    for (const char* prefix : {"", "home/+", "#"}) {
        MqttOptions wrong = options;
        wrong.prefix = prefix;
        EXPECT_NE(checkMqttNames(wrong), "") << prefix;
    }
    options.discoveryPrefix = "home/#";
    EXPECT_NE(checkMqttNames(options), "");
}
