// A private profile (INI) file, read and written with the semantics of the
// Windows profile functions the client was written against:
//
// - a line "[Name]" opens a section; each value is one "key=value" line;
// - section and key names match without regard to case;
// - a missing file, section or key reads as the default text;
// - writing a key replaces its line where it stands, or adds it at the end of
//   its section, creating the section and the file when needed; the other
//   sections, keys and comment lines are kept;
// - the file is replaced atomically (temporary file, fsync, rename), so a
//   crash never leaves half a file behind.
//
// The file is read afresh on every call, so a hand edit made while the
// program runs is seen by the next read.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    // Where such files live: $XDG_CONFIG_HOME, or ~/.config when it is unset,
    // empty or not an absolute path (as the XDG rules say). No trailing '/'.
    static std::string DefaultFolder();
    // DefaultFolder() + "/" + fileName.
    static std::string DefaultPath(const std::string& fileName);

    const std::string& Path() const { return path_; }

    std::string GetProfileString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue = {}) const;

    // False when the file could not be written (the old file then stands).
    // A value is one line: it is cut at its first line break.
    bool WriteProfileString(std::string_view section, std::string_view key,
                            std::string_view value);

private:
    std::string path_;
};

}  // namespace platform
