// The watcher at an MQTT broker, for home automation. With T = PREFIX/NAME:
//
//   T/availability    "online" after every connection; "offline" as the
//                     connection's last will and on a clean exit (retained)
//   T/motion          "ON" when an event starts, "OFF" when it ends, and the
//                     current state after every connection (retained)
//   T/events          every line of the events log (not retained)
//   T/snapshot        the JPEG of each finished event's snapshot (retained)
//   T/settings/KEY    the value in force of each detector parameter
//                     (retained), published again whenever it changes
//   T/settings/KEY/set  a new value, checked and applied as LiveSettings
//                     does; a refused one is reported and the state topic
//                     published again unchanged. Retained commands are
//                     ignored: a stale one would undo the configuration at
//                     every start.
//
// and Home Assistant's discovery (HomeAssistant.h), after every connection
// and whenever DISCOVERY_PREFIX/status says "online". Every message is
// queued for the connection's thread: detection never waits.
#pragma once

#include "events/EventSink.h"
#include "mqtt/MqttConnection.h"
#include "mqtt/MqttOptions.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class LiveSettings;

class MqttSink : public EventSink {
public:
    // outputDirectory: where the snapshots named in end lines are. settings
    // must not apply changes once the sink is gone (its listener holds the
    // sink). report is called from the detection thread and from the
    // connection's thread, one line (without newline) at a time.
    MqttSink(const MqttOptions& options, std::filesystem::path outputDirectory, LiveSettings& settings,
             std::function<void(const std::string&)> report);

    void line(const EventLine& line) override;

private:
    MqttConnection::Endpoint endpoint() const;
    std::vector<MqttMessage> connected() const;
    std::vector<MqttMessage> received(const std::string& topic, const std::string& payload, bool retained) const;
    std::vector<MqttMessage> command(const std::string& topic, const std::string& key,
                                     const std::string& payload) const;
    MqttMessage availability(const char* state) const;
    MqttMessage motionState(bool on) const;
    MqttMessage settingState(const std::string& key, const nlohmann::json& value) const;

    const MqttOptions options;
    const MqttTopics topics;
    const std::filesystem::path outputDirectory;
    LiveSettings& settings;
    const std::function<void(const std::string&)> report;
    const std::vector<MqttMessage> discovery;
    std::atomic<bool> motion{false};
    MqttConnection connection; // last: its thread uses everything above
};
