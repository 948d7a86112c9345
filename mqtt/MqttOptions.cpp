#include "mqtt/MqttOptions.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace {

bool parsePort(const std::string& text, int& port) {
    const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (text.empty() || text.size() > 5 || !digits) return false;
    const int value = std::atoi(text.c_str());
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

// A topic level or prefix as a broker and Home Assistant take it.
std::string checkTopicText(const std::string& what, const std::string& text, bool oneLevel) {
    if (text.empty()) return what + " is empty";
    if (text.find_first_of(std::string("+#\0", 3)) != std::string::npos)
        return what + " " + text + " holds a wildcard character or NUL";
    if (oneLevel && text.find('/') != std::string::npos) return what + " " + text + " holds a '/'";
    return "";
}

} // namespace

bool parseBrokerAddress(const std::string& text, std::string& host, int& port) {
    std::string name = text;
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        name = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            portText = rest.substr(1);
            if (portText.empty()) return false;
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const size_t colon = text.find(':');
        name = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (portText.empty()) return false;
    }
    if (name.empty()) return false;
    int parsedPort = port;
    if (!portText.empty() && !parsePort(portText, parsedPort)) return false;
    host = name;
    port = parsedPort;
    return true;
}

std::string readMqttLogin(const std::string& path, std::string& user, std::string& password) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) return "cannot read the MQTT login file " + path;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
        return "the MQTT login file " + path + " does not start with a line user:password";
    user = line.substr(0, colon);
    password = line.substr(colon + 1);
    return "";
}

std::string checkMqttNames(const MqttOptions& options) {
    std::string problem = checkTopicText("the MQTT prefix", options.prefix, false);
    if (problem.empty()) problem = checkTopicText("the camera name", options.name, true);
    if (problem.empty() && !options.discoveryPrefix.empty())
        problem = checkTopicText("the discovery prefix", options.discoveryPrefix, false);
    return problem;
}
