#include "profile_file.h"

#include "platform/atomic_file.h"

// Bytes as they are: no UTF-8 conversion, ASCII letters compared without case.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // Debian ships the header-only form behind this switch
#include <SimpleIni.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Case-insensitive names, bytes taken as they are (no UTF-8 checks), one
// value per key, "key=value" without blanks around the equals sign.
void Configure(CSimpleIniA& ini) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
    ini.SetSpaces(false);
    ini.SetQuotes(false);
    ini.SetAllowKeyOnly(false);
}

// A settings file larger than this is not one of ours.
constexpr off_t kLargestFile = 16 * 1024 * 1024;

enum class Loaded { Ok, Missing, Unreadable };

// Reads the file ourselves: only a regular file of sensible size is parsed
// (a folder or a device in its place must not be read as one).
Loaded LoadInto(CSimpleIniA& ini, const std::string& path) {
    Configure(ini);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Loaded::Missing : Loaded::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargestFile) {
        ::close(fd);
        return Loaded::Unreadable;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t r = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<std::size_t>(r);
    }
    ::close(fd);
    bytes.resize(done);
    return ini.LoadData(bytes) >= 0 ? Loaded::Ok : Loaded::Unreadable;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string OneLine(std::string_view value) {
    const std::size_t end = value.find_first_of("\r\n");
    return std::string(end == std::string_view::npos ? value : value.substr(0, end));
}

}  // namespace

std::string ProfileFile::DefaultFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        std::string folder = xdg;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    }
    return HomeFolder() + "/.config";
}

std::string ProfileFile::DefaultPath(const std::string& fileName) {
    return DefaultFolder() + "/" + fileName;
}

std::string ProfileFile::GetProfileString(std::string_view section, std::string_view key,
                                          std::string_view defaultValue) const {
    CSimpleIniA ini;
    const std::string fallback(defaultValue);
    if (LoadInto(ini, path_) != Loaded::Ok) return fallback;
    const std::string s(section), k(key);
    const char* value = ini.GetValue(s.c_str(), k.c_str(), nullptr);
    return value ? std::string(value) : fallback;
}

bool ProfileFile::WriteProfileString(std::string_view section, std::string_view key,
                                     std::string_view value) {
    CSimpleIniA ini;
    // A file that exists but cannot be read is left alone rather than replaced.
    if (LoadInto(ini, path_) == Loaded::Unreadable) return false;
    const std::string s(section), k(key), v = OneLine(value);
    if (ini.SetValue(s.c_str(), k.c_str(), v.c_str()) < 0) return false;
    std::string bytes;
    if (ini.Save(bytes) < 0) return false;
    // Temporary file, fsync, rename: a crash leaves the old file or the new.
    return WriteFileAtomically(path_, bytes);
}

}  // namespace platform
