// The command line of motion_watch.
#pragma once

#include "io/ClipWriter.h"
#include "io/VideoFrame.h"
#include "mqtt/MqttOptions.h"
#include "web/ListenAddress.h"

#include <optional>
#include <string>

struct WatchOptions {
    std::string config = "Config_Params.json";
    std::string source; // empty: the configuration's video source
    std::string output = "events";
    double preSeconds = 2.0;
    double postSeconds = 3.0;
    std::string onEvent;                  // empty: no command
    std::optional<long long> maxStorageMb; // empty: no limit
    std::optional<std::string> regionMask; // the configuration's when not given; "" none
    std::string name; // the camera's name; empty: the configuration file's name without extension
    MqttOptions mqtt;           // no host: no MQTT; the name and the login are filled in at the start
    std::string mqttLoginFile;  // empty: no login
    std::optional<ListenAddress> http; // the web page's address; empty: no web page
    std::string httpAuth;              // the web page's user:password file; empty: none
    ClipFormat clipFormat = ClipFormat::Avi;
    GreyInput greyInput = GreyInput::Exact; // --fast-input: Luma
    bool help = false;

    // The camera's name in force.
    std::string cameraName() const;
};

// The options, or nothing when the command line is wrong (an unknown option,
// a missing or malformed value, a stray argument); error then says what.
std::optional<WatchOptions> parseWatchOptions(int argc, const char* const* argv, std::string& error);

// What is wrong with the web page's options taken together (credentials
// without a page; an address other than loopback without credentials, which
// would show the camera to the network): one line, "" when nothing.
std::string webOptionsProblem(const WatchOptions& options);

// The synopsis and one line per option, for --help and after a wrong command line.
const char* watchUsage();
