#include "web/EventList.h"

#include "events/EventFiles.h"

#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr std::streamoff chunkSize = 64 * 1024;

// The event's id: its clip's name without extension, the snapshot's when it
// has no clip; "" when it has neither.
std::string eventId(const std::string& clip, const std::string& snapshot) {
    return eventFileStem(clip.empty() ? snapshot : clip);
}

nlohmann::ordered_json urlIfPresent(const fs::path& directory, const nlohmann::ordered_json& name) {
    if (!name.is_string() || eventFileStem(name.get<std::string>()).empty()) return nullptr;
    std::error_code error;
    if (!fs::is_regular_file(directory / name.get<std::string>(), error)) return nullptr;
    return "/events/" + name.get<std::string>();
}

std::string text(const nlohmann::ordered_json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

// The entry of an end line; null for any other line.
nlohmann::ordered_json entryFor(const fs::path& directory, const std::string& line) {
    nlohmann::ordered_json entry = nlohmann::ordered_json::parse(line, nullptr, false);
    if (!entry.is_object() || entry.find("type") == entry.end() || entry["type"] != "end") return nullptr;
    // Whatever the line holds, nothing here throws: a line of another kind
    // of value is listed as it is, without URLs.
    const nlohmann::ordered_json clip = entry.value("clip", nlohmann::ordered_json());
    const nlohmann::ordered_json snapshot = entry.value("snapshot", nlohmann::ordered_json());
    const std::string id = eventId(text(clip), text(snapshot));
    entry["id"] = id.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(id);
    entry["clipUrl"] = urlIfPresent(directory, clip);
    entry["snapshotUrl"] = urlIfPresent(directory, snapshot);
    return entry;
}

} // namespace

nlohmann::ordered_json recentEvents(const fs::path& directory, size_t limit) {
    nlohmann::ordered_json events = nlohmann::ordered_json::array();
    std::ifstream log(directory / "events.jsonl", std::ios::binary);
    if (!log) return events;
    log.seekg(0, std::ios::end);
    std::streamoff position = log.tellg();
    std::string unread; // from `position` to the start of the lines taken so far
    while (events.size() < limit) {
        // Every line after the last newline of `unread` is complete; the
        // text before it may continue in the chunk before.
        const size_t newline = unread.rfind('\n', unread.empty() ? 0 : unread.size() - 1);
        if (newline != std::string::npos || position == 0) {
            const size_t begin = newline == std::string::npos ? 0 : newline + 1;
            nlohmann::ordered_json entry = entryFor(directory, unread.substr(begin));
            if (!entry.is_null()) events.push_back(std::move(entry));
            if (newline == std::string::npos) break;
            unread.resize(newline);
            continue;
        }
        const std::streamoff size = std::min(chunkSize, position);
        position -= size;
        std::string chunk(static_cast<size_t>(size), '\0');
        log.seekg(position);
        if (!log.read(chunk.data(), size)) break;
        unread.insert(0, chunk);
    }
    return events;
}
