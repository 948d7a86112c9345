// Changing the detector's parameters while it runs, from any thread (a web
// request, a broker message), and keeping the change in the configuration
// file when asked.
//
// A change is a JSON object of configuration keys and values. It is checked
// against the parameter table exactly as the configuration file is read
// (same types, same truncation of integers), and in addition every value
// must lie in its key's range: all keys or none, and the first offending key
// is named. Accepted values are in force from the next frame: the detection
// thread applies them between two frames with applyPending().
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MotionDetector;

class LiveSettings {
public:
    // configPath: the file persist() writes to. The values in force are
    // read from detector (configured already); regionMaskFile is the
    // configuration's text of that key ("" when absent).
    LiveSettings(std::string configPath, const MotionDetector& detector, std::string regionMaskFile);

    // Checks changes; on success queues them for the next frame and returns
    // "", otherwise returns what is wrong (naming the key) and changes nothing.
    std::string submit(const nlohmann::json& changes);

    // Writes changes (keys of the parameter table, checked as submit checks
    // them, or "region_mask_file" with a text) into the configuration file,
    // or the file a link names: a temporary file in the same directory with
    // the same permissions, then a rename, so that a crash leaves the old
    // file or the new one. Every other key keeps its value and its place;
    // new keys are appended. Does not change what is in force. Returns "" on
    // success, else what failed (the file then stays as it was).
    std::string persist(const nlohmann::json& changes);

    // Detection thread, between frames: applies what was submitted since
    // the last call, then tells every listener the keys it changed.
    void applyPending(MotionDetector& detector);

    // Called on the detection thread with the keys and values just applied.
    void onApplied(std::function<void(const nlohmann::json& applied)> listener);

    // Every key of the parameter table with its value in force (or queued),
    // and "region_mask_file" with the configuration's text (as last
    // persisted: a new mask file takes effect at the next start). Integer
    // keys are JSON integers. The object lists its keys alphabetically, as
    // every nlohmann::json object does.
    nlohmann::json current() const;

private:
    using Listener = std::function<void(const nlohmann::json& applied)>;

    const std::string configPath;
    mutable std::mutex mutex;   // guards the state below, never held over file work
    std::vector<double> values; // per table row: in force, or queued when queued[k]
    std::vector<bool> queued;
    std::string regionMaskFile;
    std::vector<Listener> listeners;
    std::mutex fileMutex; // one rewrite at a time, so that none loses another's keys
};
