#include "mqtt/MqttSink.h"

#include "config/LiveSettings.h"
#include "detector/parameters/Parameters.h"
#include "mqtt/HomeAssistant.h"

#include <unistd.h>

namespace {

const char* const online = "online";
const char* const offline = "offline";

// Unique per process, so that two watchers never push each other off the
// broker, and telling in the broker's log which camera and host it is.
std::string clientId(const MqttOptions& options) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return options.prefix + "_" + options.name + "_" + host + "_" + std::to_string(getpid());
}

bool isParameter(const std::string& key) {
    for (const motion::Parameter& parameter : motion::parameterTable)
        if (key == parameter.key) return true;
    return false;
}

MqttMessage stateMessage(std::string topic, std::string payload) {
    MqttMessage message;
    message.topic = std::move(topic);
    message.payload = std::move(payload);
    message.retain = true;
    message.state = true;
    return message;
}

} // namespace

MqttSink::MqttSink(const MqttOptions& options, std::filesystem::path outputDirectory, LiveSettings& settings,
                   std::function<void(const std::string&)> report)
    : options(options), topics(options), outputDirectory(std::move(outputDirectory)), settings(settings),
      report(std::move(report)), discovery(homeAssistantDiscovery(options, MOTION_WATCH_VERSION)),
      connection(endpoint(), {[this] { return connected(); },
                              [this](const std::string& topic, const std::string& payload, bool retained) {
                                  return received(topic, payload, retained);
                              },
                              this->report}) {
    // Whoever changed them (a command here, the web page), the broker shows
    // the values in force.
    settings.onApplied([this](const nlohmann::json& applied) {
        for (const auto& [key, value] : applied.items()) connection.publish(settingState(key, value));
    });
}

void MqttSink::line(const EventLine& line) {
    const bool started = line.kind == EventLine::Start;
    motion = started;
    connection.publish(motionState(started));
    MqttMessage event;
    event.topic = topics.events();
    event.payload = line.json;
    connection.publish(std::move(event));
    if (started || line.files == nullptr || line.files->snapshot.empty()) return;
    MqttMessage snapshot;
    snapshot.topic = topics.snapshot();
    snapshot.payloadFile = (outputDirectory / line.files->snapshot).string();
    snapshot.retain = true;
    connection.publish(std::move(snapshot));
}

MqttConnection::Endpoint MqttSink::endpoint() const {
    MqttConnection::Endpoint endpoint;
    endpoint.host = options.host;
    endpoint.port = options.port;
    endpoint.user = options.user;
    endpoint.password = options.password;
    endpoint.clientId = clientId(options);
    endpoint.will = availability(offline);
    endpoint.subscriptions.push_back(topics.settingCommand("+"));
    if (!options.discoveryPrefix.empty()) endpoint.subscriptions.push_back(options.discoveryPrefix + "/status");
    return endpoint;
}

std::vector<MqttMessage> MqttSink::connected() const {
    std::vector<MqttMessage> burst = {availability(online)};
    burst.insert(burst.end(), discovery.begin(), discovery.end());
    burst.push_back(motionState(motion));
    const nlohmann::json current = settings.current();
    for (const motion::Parameter& parameter : motion::parameterTable)
        burst.push_back(settingState(parameter.key, current.at(parameter.key)));
    return burst;
}

std::vector<MqttMessage> MqttSink::received(const std::string& topic, const std::string& payload,
                                            bool retained) const {
    if (!options.discoveryPrefix.empty() && topic == options.discoveryPrefix + "/status")
        return payload == online ? discovery : std::vector<MqttMessage>();
    // Besides the status, the subscriptions let only T/settings/KEY/set through.
    const std::string level = topics.settingsLevel();
    const size_t suffix = std::char_traits<char>::length(topics.commandSuffix());
    if (topic.size() <= level.size() + suffix || topic.compare(0, level.size(), level) != 0) return {};
    const std::string key = topic.substr(level.size(), topic.size() - level.size() - suffix);
    if (retained) {
        report("MQTT: " + topic + ": a retained command is ignored");
        return {};
    }
    // Empty: someone clears a retained command, which is no command.
    return payload.empty() ? std::vector<MqttMessage>() : command(topic, key, payload);
}

std::vector<MqttMessage> MqttSink::command(const std::string& topic, const std::string& key,
                                           const std::string& payload) const {
    // A payload that is no JSON value is taken as a text: the settings say
    // what is wrong with it, in the words they use for the file.
    nlohmann::json value = nlohmann::json::parse(payload, nullptr, false);
    if (value.is_discarded()) value = payload;
    const nlohmann::json change = {{key, value}};
    const std::string refused = settings.submit(change);
    if (!refused.empty()) {
        report("MQTT: " + topic + ": " + refused);
        if (!isParameter(key)) return {};
        return {settingState(key, settings.current().at(key))};
    }
    if (!options.persist) return {};
    const std::string failed = settings.persist(change);
    if (!failed.empty()) report("MQTT: " + topic + ": applied, but not kept in the configuration file: " + failed);
    return {};
}

MqttMessage MqttSink::availability(const char* state) const { return stateMessage(topics.availability(), state); }

MqttMessage MqttSink::motionState(bool on) const { return stateMessage(topics.motion(), on ? "ON" : "OFF"); }

MqttMessage MqttSink::settingState(const std::string& key, const nlohmann::json& value) const {
    return stateMessage(topics.setting(key), value.dump());
}
