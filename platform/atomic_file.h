// Replacing a whole file so that a reader (or a crash) sees either the old
// contents or the new, never half of each: write a temporary file beside it,
// flush it to the disk, then rename it over the old one.
#pragma once

#include <string>

namespace platform {

// Writes bytes to path atomically, creating the missing folders of path.
// An existing file keeps its permissions. False on any failure, the old file
// then untouched (errno tells why).
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// Creates folder and every missing parent (mode 0755). False on failure.
bool MakeFolders(const std::string& folder);

}  // namespace platform
