#include "tools/watch/WatchOptions.h"

#include <cmath>
#include <cstdlib>

namespace {

// A longer pre-capture only holds more frames in memory: at 1920x1080 and 30
// frames per second one second costs about 190 MB.
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

bool parseOption(const std::string& name, const char* value, WatchOptions& o) {
    if (name == "--config") return parseText(value, o.config);
    if (name == "--source") return parseText(value, o.source);
    if (name == "--output") return parseText(value, o.output);
    if (name == "--pre") return parseSeconds(value, maxPreSeconds, o.preSeconds);
    if (name == "--post") return parseSeconds(value, HUGE_VAL, o.postSeconds);
    if (name == "--on-event") return parseText(value, o.onEvent);
    if (name == "--max-storage-mb") return parseMegabytes(value, o.maxStorageMb);
    if (name == "--region-mask") return parseText(value, o.regionMask);
    return false;
}

} // namespace

std::optional<WatchOptions> parseWatchOptions(int argc, const char* const* argv) {
    WatchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (i + 1 >= argc || !parseOption(name, argv[i + 1], options)) return std::nullopt;
        ++i;
    }
    return options;
}

const char* watchUsage() {
    return "usage: motion_watch [--config FILE] [--source TEXT] [--output DIR] [--pre SECONDS]\n"
           "                    [--post SECONDS] [--on-event COMMAND] [--max-storage-mb N]\n"
           "                    [--region-mask FILE]\n"
           "  --config FILE        configuration (default Config_Params.json)\n"
           "  --source TEXT        video file, camera number or URL (default: the configuration's)\n"
           "  --output DIR         where clips, snapshots and events.jsonl go (default events)\n"
           "  --pre SECONDS        video kept before an event starts, 0 to 60 (default 2)\n"
           "  --post SECONDS       quiet time that ends an event (default 3)\n"
           "  --on-event COMMAND   shell command run for every event line, the line on its input\n"
           "  --max-storage-mb N   delete the oldest clips and snapshots beyond N MiB\n"
           "  --region-mask FILE   image of the watched area (default: the configuration's)\n";
}
