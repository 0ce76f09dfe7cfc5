#include "atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The rename is only durable once the folder's entry is on the disk too.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool MakeFolders(const std::string& folder) {
    if (folder.empty()) return false;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent)) return false;
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string folder = FolderOf(path);
    if (!MakeFolders(folder)) return false;

    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;

    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;

    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(name.data(), path.c_str()) == 0) {
        SyncFolder(folder);
        return true;
    }
    const int error = ok ? errno : saved;
    ::unlink(name.data());
    errno = error;
    return false;
}

}  // namespace platform
