#include "events/StorageLimit.h"

#include "events/EventFiles.h"

#include <algorithm>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct StoredEvent {
    std::vector<std::pair<fs::path, unsigned long long>> files;
    fs::file_time_type modified = fs::file_time_type::max(); // of its oldest file
};

// The event files in the directory by stem, and their total size.
std::map<std::string, StoredEvent> storedEvents(const fs::path& directory, unsigned long long& total) {
    std::map<std::string, StoredEvent> events;
    total = 0;
    std::error_code error;
    // Not the range-for: its increment throws when the directory goes away.
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string stem = eventFileStem(it->path().filename().string());
        std::error_code fileError;
        if (stem.empty() || !it->is_regular_file(fileError)) continue;
        const unsigned long long size = it->file_size(fileError);
        const fs::file_time_type modified = it->last_write_time(fileError);
        if (fileError) continue;
        StoredEvent& event = events[stem];
        event.files.emplace_back(it->path(), size);
        event.modified = std::min(event.modified, modified);
        total += size;
    }
    return events;
}

} // namespace

StorageLimit::StorageLimit(fs::path directory, unsigned long long limitBytes)
    : directory(std::move(directory)), limitBytes(limitBytes) {}

void StorageLimit::add(const std::string& clip, const std::string& snapshot) {
    addStem(clip);
    if (eventFileStem(snapshot) != eventFileStem(clip)) addStem(snapshot);
}

void StorageLimit::addStem(const std::string& fileName) {
    const std::string stem = eventFileStem(fileName);
    if (stem.empty()) return;
    if (known.insert(stem).second) ended.push_back(stem);
}

void StorageLimit::prune(const std::string& keepStem) {
    unsigned long long total = 0;
    std::map<std::string, StoredEvent> stored = storedEvents(directory, total);

    std::vector<std::string> order; // the crash's leftovers, then the log's order
    for (const auto& [stem, event] : stored)
        if (known.count(stem) == 0) order.push_back(stem);
    std::sort(order.begin(), order.end(),
              [&](const std::string& a, const std::string& b) { return stored[a].modified < stored[b].modified; });
    // Events whose files are gone need not be remembered.
    std::deque<std::string> present;
    for (const std::string& stem : ended) {
        if (stored.count(stem) == 0) {
            known.erase(stem);
            continue;
        }
        present.push_back(stem);
        order.push_back(stem);
    }
    ended = std::move(present);

    std::error_code error;
    for (const std::string& stem : order) {
        if (total <= limitBytes) break;
        if (stem == keepStem) continue;
        for (const auto& [path, size] : stored[stem].files)
            if (fs::remove(path, error)) total -= size;
    }
}
