// Creating a file under a name nobody else holds, without overwriting
// anything: recordings, event clips and snapshots.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Creates directory/stem + extension exclusively (O_EXCL, so that not even a
// second program writing to the same directory can take the name as well),
// trying stem, stem_1, stem_2, ... in turn; a name is also passed over when
// a file stem + one of `companions` exists (the snapshot that goes with a
// clip). Returns the stem used. The file is left empty for its writer; a
// directory that refuses the file leaves the first free name to the writer's
// own open, which reports the failure.
std::string createUniqueFile(const std::filesystem::path& directory, const std::string& stem,
                             const std::string& extension, const std::vector<std::string>& companions = {});
