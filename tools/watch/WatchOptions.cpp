#include "tools/watch/WatchOptions.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace {

// A longer pre-capture only holds more frames in memory, compressed beyond
// the first 150 MB: at 1920x1080 and 25 frames per second one second of a
// quiet scene then costs about 5 MB.
constexpr double maxPreSeconds = 60.0;

// A limit in bytes must fit 64 bits; 2^40 MiB is beyond any disk.
constexpr long long maxStorageMegabytes = 1LL << 40;

bool parseSeconds(const char* text, double limit, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(seconds) && seconds >= 0.0 && seconds <= limit;
}

bool parseMegabytes(const char* text, std::optional<long long>& megabytes) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > maxStorageMegabytes) return false;
    megabytes = value;
    return true;
}

bool parseText(const char* text, std::string& value) {
    value = text;
    return !value.empty();
}

bool parseClipFormat(const std::string& text, ClipFormat& format) {
    const std::pair<const char*, ClipFormat> formats[] = {
        {"avi", ClipFormat::Avi}, {"mp4", ClipFormat::Mp4}, {"copy", ClipFormat::Copy}};
    for (const auto& [name, value] : formats)
        if (text == name) {
            format = value;
            return true;
        }
    return false;
}

struct OptionParser {
    const char* name;
    bool (*parse)(const char* value, WatchOptions& o);
};

const OptionParser optionParsers[] = {
    {"--config", [](const char* v, WatchOptions& o) { return parseText(v, o.config); }},
    {"--source", [](const char* v, WatchOptions& o) { return parseText(v, o.source); }},
    {"--output", [](const char* v, WatchOptions& o) { return parseText(v, o.output); }},
    {"--pre", [](const char* v, WatchOptions& o) { return parseSeconds(v, maxPreSeconds, o.preSeconds); }},
    {"--post", [](const char* v, WatchOptions& o) { return parseSeconds(v, HUGE_VAL, o.postSeconds); }},
    {"--on-event", [](const char* v, WatchOptions& o) { return parseText(v, o.onEvent); }},
    {"--max-storage-mb", [](const char* v, WatchOptions& o) { return parseMegabytes(v, o.maxStorageMb); }},
    {"--region-mask", [](const char* v, WatchOptions& o) { o.regionMask = v; return true; }},
    {"--name", [](const char* v, WatchOptions& o) { return parseText(v, o.name); }},
    {"--mqtt", [](const char* v, WatchOptions& o) { return parseBrokerAddress(v, o.mqtt.host, o.mqtt.port); }},
    {"--mqtt-auth", [](const char* v, WatchOptions& o) { return parseText(v, o.mqttLoginFile); }},
    {"--mqtt-prefix", [](const char* v, WatchOptions& o) { return parseText(v, o.mqtt.prefix); }},
    {"--mqtt-discovery-prefix", [](const char* v, WatchOptions& o) { o.mqtt.discoveryPrefix = v; return true; }},
    {"--http", [](const char* v, WatchOptions& o) { return (o.http = parseListenAddress(v)).has_value(); }},
    {"--http-auth", [](const char* v, WatchOptions& o) { return parseText(v, o.httpAuth); }},
    {"--clip-format", [](const char* v, WatchOptions& o) { return parseClipFormat(v, o.clipFormat); }},
};

const OptionParser* findOption(const std::string& name) {
    for (const OptionParser& option : optionParsers)
        if (name == option.name) return &option;
    return nullptr;
}

} // namespace

std::string WatchOptions::cameraName() const {
    return name.empty() ? std::filesystem::path(config).stem().string() : name;
}

std::optional<WatchOptions> parseWatchOptions(int argc, const char* const* argv, std::string& error) {
    WatchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--mqtt-persist") {
            options.mqtt.persist = true;
            continue;
        }
        if (name == "--fast-input") {
            options.greyInput = GreyInput::Luma;
            continue;
        }
        const OptionParser* option = findOption(name);
        if (option == nullptr) {
            error = "unknown argument " + name;
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return std::nullopt;
        }
        if (!option->parse(argv[++i], options)) {
            error = "invalid value for " + name + ": " + argv[i];
            return std::nullopt;
        }
    }
    return options;
}

std::string webOptionsProblem(const WatchOptions& options) {
    if (!options.http && !options.httpAuth.empty()) return "--http-auth needs --http";
    if (options.http && options.httpAuth.empty() && !isLoopbackAddress(options.http->host))
        return "--http on " + options.http->host + " needs --http-auth: without it anyone on the network sees the camera";
    return "";
}

const char* watchUsage() {
    return "usage: motion_watch [--config FILE] [--source TEXT] [--output DIR] [--pre SECONDS]\n"
           "                    [--post SECONDS] [--on-event COMMAND] [--max-storage-mb N]\n"
           "                    [--region-mask FILE] [--name NAME] [--clip-format avi|mp4|copy]\n"
           "                    [--mqtt HOST[:PORT] [--mqtt-auth FILE] [--mqtt-prefix PREFIX]\n"
           "                     [--mqtt-discovery-prefix PREFIX] [--mqtt-persist]]\n"
           "                    [--http [ADDR:]PORT] [--http-auth FILE] [--fast-input]\n"
           "  --config FILE        configuration (default Config_Params.json)\n"
           "  --source TEXT        video file, camera number or URL (default: the configuration's)\n"
           "  --output DIR         where clips, snapshots and events.jsonl go (default events)\n"
           "  --pre SECONDS        video kept before an event starts, 0 to 60 (default 2)\n"
           "  --post SECONDS       quiet time that ends an event (default 3)\n"
           "  --on-event COMMAND   shell command run for every event line, the line on its input\n"
           "  --max-storage-mb N   delete the oldest clips and snapshots beyond N MiB\n"
           "  --region-mask FILE   image of the watched area, \"\" none (default: the configuration's)\n"
           "  --name NAME          the camera's name (default: the configuration file's name without extension)\n"
           "  --clip-format F      avi (Motion-JPEG, the default), mp4 (H.264, plays in browsers) or copy\n"
           "                       (the stream's own video in MP4: no encoding, no boxes; streams and files)\n"
           "  --mqtt HOST[:PORT]   publish to this MQTT broker (port 1883 by default)\n"
           "  --mqtt-auth FILE     the broker login, one line user:password\n"
           "  --mqtt-prefix PREFIX topics under PREFIX/NAME (default motion_watch)\n"
           "  --mqtt-discovery-prefix PREFIX  Home Assistant discovery (default homeassistant, \"\" off)\n"
           "  --mqtt-persist       keep settings changed over MQTT in the configuration file\n"
           "  --http [ADDR:]PORT   serve the web page on ADDR (default 127.0.0.1)\n"
           "  --http-auth FILE     user:password lines; the web page then asks for them\n"
           "  --fast-input         detect on the decoder's luma plane: less processor time, slightly other events\n";
}
