// Replacing a file's contents so that a crash at any moment leaves either
// the old file or the new one whole, never a mix: the configuration that
// the live settings rewrite, the region mask the web page saves.
#pragma once

#include <string>

// Writes text to a temporary file in the same directory, syncs it, renames
// it over path and syncs the directory. An existing file's permissions and
// owner (where allowed) carry over; a new file gets rw-r--r--. Returns ""
// on success, else what failed, with the temporary file removed and the
// file as it was.
std::string replaceFile(const std::string& path, const std::string& text);
