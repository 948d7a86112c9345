// How the watcher reaches its MQTT broker and what it calls itself there.
//
// Topics live under T = PREFIX/NAME; Home Assistant's discovery messages
// under the discovery prefix. The login comes from a file of one line
// "user:password", so that the password never shows in a process list.
#pragma once

#include <string>

struct MqttOptions {
    std::string host; // empty: no MQTT
    int port = 1883;
    std::string user; // empty: no login
    std::string password;
    std::string prefix = "motion_watch";
    std::string discoveryPrefix = "homeassistant"; // empty: no discovery
    std::string name;     // the camera's name in topics and ids
    bool persist = false; // accepted /set values are written to the configuration file
};

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT (a bare IPv6 address has more than
// one colon and takes no port); the port lies in 1..65535. False when the
// text is none of these; host and port are then unchanged.
bool parseBrokerAddress(const std::string& text, std::string& host, int& port);

// Reads the login from its file: the first line, split at its first colon;
// the user must not be empty. Returns "" on success, else what is wrong.
std::string readMqttLogin(const std::string& path, std::string& user, std::string& password);

// The prefixes and the name become topic levels: none may be empty (but the
// discovery prefix, which turns discovery off), hold a wildcard ('+', '#')
// or a NUL, and the name is one level (no '/'). Returns "" when they can be
// used, else what is wrong.
std::string checkMqttNames(const MqttOptions& options);

// Where the watcher publishes and listens.
struct MqttTopics {
    explicit MqttTopics(const MqttOptions& options) : base(options.prefix + "/" + options.name) {}

    std::string availability() const { return base + "/availability"; }
    std::string motion() const { return base + "/motion"; }
    std::string events() const { return base + "/events"; }
    std::string snapshot() const { return base + "/snapshot"; }
    std::string setting(const std::string& key) const { return settingsLevel() + key; }
    std::string settingCommand(const std::string& key) const { return setting(key) + commandSuffix(); }
    // T/settings/ and /set: the pieces a command topic is made of.
    std::string settingsLevel() const { return base + "/settings/"; }
    static const char* commandSuffix() { return "/set"; }

    const std::string base;
};
