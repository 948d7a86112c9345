// The events of an output directory as the web page lists them.
//
// The list comes from the end lines of events.jsonl, every run's, newest
// first: each line's fields as written, plus "id" (the clip's name without
// extension) and "clipUrl" / "snapshotUrl" (/events/<file>, or null when
// the file is not there, e.g. pruned). The log is read from its end, so a
// long history costs only the lines asked for; lines that do not parse (the
// last one of a crash) are passed over.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>

// Up to limit events of directory, newest first, as described above.
nlohmann::ordered_json recentEvents(const std::filesystem::path& directory, size_t limit);
