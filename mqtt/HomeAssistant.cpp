#include "mqtt/HomeAssistant.h"

#include "detector/parameters/Parameters.h"

#include <nlohmann/json.hpp>

#include <cctype>

using nlohmann::ordered_json;

namespace {

// Home Assistant takes letters, digits, '_' and '-' in the ids of its
// discovery topics.
std::string idText(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    return text;
}

// The finest step Home Assistant accepts for a number.
constexpr double finestStep = 0.001;

class Discovery {
public:
    Discovery(const MqttOptions& options, const std::string& version)
        : options(options), topics(options), node(idText(options.prefix + "_" + options.name)),
          device({{"identifiers", ordered_json::array({node})},
                  {"name", options.name},
                  {"model", "motion_watch"},
                  {"sw_version", version}}) {}

    std::vector<MqttMessage> messages() const {
        std::vector<MqttMessage> all = {
            entity("binary_sensor", "motion", "Motion",
                   {{"device_class", "motion"}, {"state_topic", topics.motion()}, {"payload_on", "ON"},
                    {"payload_off", "OFF"}}),
            entity("camera", "snapshot", "Snapshot", {{"topic", topics.snapshot()}}),
        };
        for (const motion::Parameter& parameter : motion::parameterTable) all.push_back(number(parameter));
        return all;
    }

private:
    MqttMessage number(const motion::Parameter& parameter) const {
        return entity("number", parameter.key, parameter.key,
                      {{"entity_category", "config"},
                       {"state_topic", topics.setting(parameter.key)},
                       {"command_topic", topics.settingCommand(parameter.key)},
                       {"retain", false},
                       {"min", parameter.low},
                       {"max", parameter.high},
                       {"step", parameter.isInteger() ? 1.0 : finestStep},
                       {"mode", "box"}});
    }

    MqttMessage entity(const char* component, const std::string& what, const std::string& name,
                       ordered_json fields) const {
        ordered_json config = {{"name", name}, {"unique_id", node + "_" + idText(what)}};
        config.update(fields);
        config["availability_topic"] = topics.availability();
        config["device"] = device;
        MqttMessage message;
        message.topic = options.discoveryPrefix + "/" + component + "/" + node + "/" + idText(what) + "/config";
        message.payload = config.dump();
        message.retain = true;
        message.state = true;
        return message;
    }

    const MqttOptions& options;
    const MqttTopics topics;
    const std::string node;
    const ordered_json device;
};

} // namespace

std::vector<MqttMessage> homeAssistantDiscovery(const MqttOptions& options, const std::string& version) {
    if (options.discoveryPrefix.empty()) return {};
    return Discovery(options, version).messages();
}
