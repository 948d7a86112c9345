// Home Assistant's MQTT discovery for one watcher: one device (the camera)
// with a motion sensor, a camera entity that shows the latest snapshot, and
// a number per detector parameter, its range taken from the parameter
// table. Each entity's unique id is PREFIX_NAME_<what>; every entity goes
// unavailable with the watcher.
#pragma once

#include "mqtt/MqttConnection.h"
#include "mqtt/MqttOptions.h"

#include <string>
#include <vector>

// The retained configuration messages under the discovery prefix; none when
// discovery is off.
std::vector<MqttMessage> homeAssistantDiscovery(const MqttOptions& options, const std::string& version);
