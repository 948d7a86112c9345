#include "config/LiveSettings.h"

#include "config/ConfigReader.h"
#include "config/ReplaceFile.h"
#include "detector/MotionDetector.h"
#include "detector/parameters/Parameters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <ios>
#include <optional>
#include <sstream>
#include <system_error>

using nlohmann::json;
using nlohmann::ordered_json;
using motion::Parameter;
using motion::parameterTable;

namespace {

constexpr const char* regionMaskKey = "region_mask_file";

// Changes that passed every check: the value of each table row they set
// (as the detector takes it), and the region mask text.
struct Change {
    std::array<std::optional<double>, parameterTable.size()> values;
    std::optional<std::string> regionMaskFile;
};

// A value as an answer shows it, whatever bytes its strings hold.
std::string shown(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string shown(double bound) {
    std::ostringstream text;
    text << bound;
    return text.str();
}

// Integer keys stay JSON integers, in answers and in the file.
template <class Json>
Json asJson(const Parameter& parameter, double value) {
    return parameter.isInteger() ? Json(static_cast<int>(value)) : Json(value);
}

std::optional<size_t> rowOf(const std::string& key) {
    for (size_t k = 0; k < parameterTable.size(); ++k)
        if (key == parameterTable[k].key) return k;
    return std::nullopt;
}

// The value of a table key read as the configuration file reads it, and
// then held to the key's range, which the file leaves to the detector.
std::string checkValue(const Parameter& parameter, const json& value, double& read) {
    try {
        read = readParameterValue(value, parameter);
    } catch (const json::exception&) {
        return std::string(parameter.key) + ": " + shown(value) + " is not a number";
    }
    if (parameter.accepts(read)) return "";
    return std::string(parameter.key) + ": " + shown(value) + " is outside " + shown(parameter.low) + ".." +
           shown(parameter.high);
}

// Checks every key of changes; withText lets "region_mask_file" through
// with a text. Returns what is wrong with the first offending key, in the
// object's order, or "" with change filled in.
std::string check(const json& changes, bool withText, Change& change) {
    if (!changes.is_object()) return std::string("changes must be a JSON object, not ") + changes.type_name();
    for (const auto& [key, value] : changes.items()) {
        if (withText && key == regionMaskKey) {
            if (!value.is_string()) return key + ": " + shown(value) + " is not a text";
            change.regionMaskFile = value.get<std::string>();
            continue;
        }
        const std::optional<size_t> row = rowOf(key);
        if (!row) return key + (withText ? ": not a parameter nor " + std::string(regionMaskKey)
                                         : ": not a parameter that can change while running");
        double read = 0;
        const std::string error = checkValue(parameterTable[*row], value, read);
        if (!error.empty()) return error;
        change.values[*row] = read;
    }
    return "";
}

// what, followed by the reason the last system call gave.
std::string failure(const std::string& what) {
    return what + ": " + std::generic_category().message(errno);
}

// The configuration file's text with the changes made under Config_Params:
// keys already there keep their place, new ones follow in table order.
std::string editedText(const std::string& path, const Change& change, std::string& text) {
    std::ifstream file(path);
    if (!file.is_open()) return failure("cannot read " + path);
    try {
        ordered_json document = ordered_json::parse(file, nullptr, /*allow_exceptions=*/true,
                                                    /*ignore_comments=*/false);
        ordered_json& config = document.at("Config_Params");
        if (!config.is_object()) return path + ": Config_Params is not an object";
        for (size_t k = 0; k < parameterTable.size(); ++k) {
            const Parameter& parameter = parameterTable[k];
            if (change.values[k]) config[parameter.key] = asJson<ordered_json>(parameter, *change.values[k]);
        }
        if (change.regionMaskFile) config[regionMaskKey] = *change.regionMaskFile;
        text = document.dump(4) + "\n";
    } catch (const json::exception& e) {
        return "cannot rewrite " + path + ": " + e.what();
    } catch (const std::ios_base::failure&) {
        return "cannot read " + path;
    }
    return "";
}

// The file a path names, through symbolic links, so that a link to the
// configuration keeps pointing at the rewritten file.
std::string resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string result(real);
    std::free(real);
    return result;
}

} // namespace

LiveSettings::LiveSettings(std::string configPath, const MotionDetector& detector, std::string regionMaskFile)
    : configPath(std::move(configPath)), queued(parameterTable.size(), false),
      regionMaskFile(std::move(regionMaskFile)) {
    for (const Parameter& parameter : parameterTable) values.push_back(detector.getParam(parameter.id));
}

std::string LiveSettings::submit(const json& changes) {
    Change change;
    const std::string error = check(changes, /*withText=*/false, change);
    if (!error.empty()) return error;
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t k = 0; k < parameterTable.size(); ++k) {
        if (!change.values[k]) continue;
        values[k] = *change.values[k];
        queued[k] = true;
    }
    return "";
}

std::string LiveSettings::persist(const json& changes) {
    Change change;
    std::string error = check(changes, /*withText=*/true, change);
    if (!error.empty()) return error;
    std::lock_guard<std::mutex> fileLock(fileMutex);
    const std::string path = resolved(configPath);
    if (path.empty()) return failure("cannot find " + configPath);
    std::string text;
    error = editedText(path, change, text);
    if (error.empty()) error = replaceFile(path, text);
    if (error.empty() && change.regionMaskFile) {
        std::lock_guard<std::mutex> lock(mutex);
        regionMaskFile = *change.regionMaskFile;
    }
    return error;
}

void LiveSettings::applyPending(MotionDetector& detector) {
    json applied = json::object();
    std::vector<Listener> toTell;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t k = 0; k < parameterTable.size(); ++k) {
            if (!queued[k]) continue;
            const Parameter& parameter = parameterTable[k];
            detector.setParam(parameter.id, values[k]); // checked against the range on submit
            applied[parameter.key] = asJson<json>(parameter, values[k]);
            queued[k] = false;
        }
        if (applied.empty()) return;
        toTell = listeners; // called unlocked: a listener may ask for current()
    }
    for (const Listener& listener : toTell) listener(applied);
}

void LiveSettings::onApplied(std::function<void(const json& applied)> listener) {
    std::lock_guard<std::mutex> lock(mutex);
    listeners.push_back(std::move(listener));
}

json LiveSettings::current() const {
    std::lock_guard<std::mutex> lock(mutex);
    json all = json::object();
    for (size_t k = 0; k < parameterTable.size(); ++k)
        all[parameterTable[k].key] = asJson<json>(parameterTable[k], values[k]);
    all[regionMaskKey] = regionMaskFile;
    return all;
}
