#include "local_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tftp {
namespace {
constexpr std::size_t kRawChunk = 64 * 1024;

// Writes all n bytes unless the file refuses; returns how many went.
std::int64_t WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, p + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (w == 0) break;
        done += static_cast<std::size_t>(w);
    }
    return static_cast<std::int64_t>(done);
}

// errno for something that is there but is not a regular file.
int NotRegularError(mode_t mode) { return S_ISDIR(mode) ? EISDIR : ENODEV; }

// Opens with O_NONBLOCK, so that a FIFO without a partner cannot make the
// open wait; then checks that a regular file was opened, and lets it block
// as files normally do.
int OpenRegular(int folderFd, const char* name, int flags, mode_t mode = 0, struct stat* out = nullptr) {
    const int fd = ::openat(folderFd, name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int saved = statted ? NotRegularError(st.st_mode) : errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (out) *out = st;
    return fd;
}

// Where an open descriptor really is, every link resolved.
bool RealPathOf(int fd, std::string& out) {
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link, buf, sizeof buf);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return false;
    out.assign(buf, static_cast<std::size_t>(n));
    return true;
}

// Whether the descriptor's real place is inside the folder within (or,
// with orSame, that folder itself). The folder's own text counts, with or
// without its trailing '/': a sibling whose name merely starts the same
// (tftp-other beside tftp) is outside.
bool LiesWithin(int fd, const std::string& within, bool orSame) {
    std::string place;
    char* folder = ::realpath(within.empty() ? "." : within.c_str(), nullptr);
    if (!folder || !RealPathOf(fd, place)) {
        std::free(folder);
        return false;
    }
    std::string root(folder);
    std::free(folder);
    if (place == root) return orSame;
    if (root.back() != '/') root += '/';
    return place.size() > root.size() && place.compare(0, root.size(), root) == 0;
}

// A hidden name beside base; O_EXCL settles the rare clash. It is no
// longer than nameMax: a name the folder can hold gets a temporary name it
// can hold too.
std::string TemporaryName(const std::string& base, std::size_t nameMax) {
    std::uint64_t bits = 0;
    // getrandom needs no descriptor, so it works when none is left.
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        bits = static_cast<std::uint64_t>(::getpid()) * 0x9e3779b97f4a7c15ull ^
               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx", static_cast<unsigned long long>(bits & 0xffffffffffffull));
    const std::size_t fixed = 1 + std::strlen(suffix);
    const std::size_t room = nameMax > fixed ? nameMax - fixed : 1;
    return "." + base.substr(0, room) + suffix;
}
}  // namespace

bool IsResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS;
}

LocalFileReader::~LocalFileReader() { Close(); }

bool LocalFileReader::Open(const std::string& path, bool netascii, const std::string* within) {
    Close();
    // Look before opening: opening a device may act on it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = NotRegularError(st.st_mode);
        return false;
    }
    fd_ = OpenRegular(AT_FDCWD, path.c_str(), O_RDONLY, 0, &st);
    if (fd_ < 0) return false;
    // What was opened counts, not the name: a link may lead anywhere.
    if (within && !LiesWithin(fd_, *within, false)) {
        Close();
        errno = EXDEV;
        return false;
    }
    netascii_ = netascii;
    size_ = st.st_size;
    offset_ = 0;
    lastReadStart_ = -1;
    rawStart_ = 0;
    rawPos_ = rawLen_ = 0;
    rawEof_ = false;
    reader_.Reset();
    raw_.resize(kRawChunk);
    return true;
}

void LocalFileReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int LocalFileReader::Read(std::uint8_t* out, int n) {
    if (fd_ < 0 || n < 0) return -1;
    lastReadStart_ = offset_;
    return netascii_ ? ReadNetascii(out, n) : ReadOctet(out, n);
}

int LocalFileReader::ReadOctet(std::uint8_t* out, int n) {
    // The file is read a chunk ahead: most blocks then cost a copy, not a
    // system call.
    int got = 0;
    while (got < n) {
        const std::int64_t rawEnd = rawStart_ + static_cast<std::int64_t>(rawLen_);
        if (offset_ < rawStart_ || offset_ >= rawEnd) {
            rawStart_ = offset_;
            rawPos_ = rawLen_ = 0;
            rawEof_ = false;
            if (!Refill()) return -1;
            if (rawLen_ == 0) break;  // the end of the file
            continue;
        }
        const std::size_t from = static_cast<std::size_t>(offset_ - rawStart_);
        const std::size_t take = std::min(rawLen_ - from, static_cast<std::size_t>(n - got));
        std::memcpy(out + got, raw_.data() + from, take);
        got += static_cast<int>(take);
        offset_ += static_cast<std::int64_t>(take);
    }
    return got;
}

bool LocalFileReader::Refill() {
    // Keep unused bytes (at most an undecided CR) at the front.
    const std::size_t keep = rawLen_ - rawPos_;
    for (std::size_t i = 0; i < keep; ++i) raw_[i] = raw_[rawPos_ + i];
    rawStart_ += static_cast<std::int64_t>(rawPos_);
    rawPos_ = 0;
    rawLen_ = keep;
    for (;;) {
        const ssize_t r = ::pread(fd_, raw_.data() + rawLen_, raw_.size() - rawLen_,
                                  rawStart_ + static_cast<std::int64_t>(rawLen_));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) rawEof_ = true;
        rawLen_ += static_cast<std::size_t>(r);
        return true;
    }
}

int LocalFileReader::ReadNetascii(std::uint8_t* out, int n) {
    std::size_t produced = 0;
    const std::size_t want = static_cast<std::size_t>(n);
    while (produced < want && !reader_.Ended()) {
        std::size_t consumed = 0;
        const std::size_t made = reader_.Convert(raw_.data() + rawPos_, rawLen_ - rawPos_, rawEof_,
                                                 out + produced, want - produced, consumed);
        produced += made;
        rawPos_ += consumed;
        offset_ = rawStart_ + static_cast<std::int64_t>(rawPos_);
        if (made == 0 && consumed == 0) {
            if (rawEof_) break;
            if (!Refill()) return -1;
        }
    }
    return static_cast<int>(produced);
}

bool LocalFileReader::RewindLastRead() {
    if (fd_ < 0 || lastReadStart_ < 0) return false;
    offset_ = lastReadStart_;
    if (netascii_) {
        reader_.Reset();
        const std::int64_t rawEnd = rawStart_ + static_cast<std::int64_t>(rawLen_);
        if (offset_ >= rawStart_ && offset_ <= rawEnd) {
            rawPos_ = static_cast<std::size_t>(offset_ - rawStart_);
        } else {
            rawStart_ = offset_;
            rawPos_ = rawLen_ = 0;
            rawEof_ = false;
        }
    }
    return true;
}

LocalFileWriter::~LocalFileWriter() { Close(); }

bool LocalFileWriter::Create(const std::string& path, bool netascii, bool emptyNow) {
    Close();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = NotRegularError(st.st_mode);
        return false;
    }
    fd_ = OpenRegular(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | (emptyNow ? O_TRUNC : 0), 0644);
    if (fd_ < 0) return false;
    netascii_ = netascii;
    writer_.Reset();
    return true;
}

bool LocalFileWriter::CreateReplacing(const std::string& path, bool netascii,
                                      const std::string& within) {
    Close();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    finalName_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (finalName_.empty()) {
        errno = EISDIR;
        return false;
    }
    // Both names are taken in this one folder, checked once it is open, so
    // no link swapped in later can send the file elsewhere.
    folderFd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) return false;
    if (!LiesWithin(folderFd_, within, true)) {
        Close();
        errno = EXDEV;
        return false;
    }
    struct stat old {};
    const bool exists = ::fstatat(folderFd_, finalName_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    // A name the folder cannot hold is refused now, not at the rename after
    // the whole upload.
    if (!exists && errno == ENAMETOOLONG) {
        Close();
        errno = ENAMETOOLONG;
        return false;
    }
    if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
        Close();
        errno = NotRegularError(old.st_mode);
        return false;
    }
    // A file the server may not write stays as it is, as it did when
    // uploads were written into it.
    if (exists && S_ISREG(old.st_mode) && ::faccessat(folderFd_, finalName_.c_str(), W_OK, AT_EACCESS) != 0) {
        const int reason = errno;
        Close();
        errno = reason;
        return false;
    }
    const long folderNameMax = ::fpathconf(folderFd_, _PC_NAME_MAX);
    const std::size_t nameMax = folderNameMax > 0 ? static_cast<std::size_t>(folderNameMax) : NAME_MAX;
    for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
        tempName_ = TemporaryName(finalName_, nameMax);
        // O_EXCL: never opens what is there already, a link included.
        fd_ = OpenRegular(folderFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ >= 0) {
        // The new file keeps the permissions of the one it replaces.
        if (exists && S_ISREG(old.st_mode)) ::fchmod(fd_, old.st_mode & 07777);
    } else {
        tempName_.clear();
        // A folder that takes no new file may still let its files be
        // written: then the upload goes straight into the existing file.
        if ((errno == EACCES || errno == EPERM) && exists && S_ISREG(old.st_mode)) {
            fd_ = OpenRegular(folderFd_, finalName_.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW);
        }
        if (fd_ < 0) {
            const int reason = errno;
            Close();
            errno = reason;
            return false;
        }
    }
    netascii_ = netascii;
    writer_.Reset();
    return true;
}

bool LocalFileWriter::Commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!Flush()) return false;
    if (tempName_.empty()) return true;
    if (::renameat(folderFd_, tempName_.c_str(), folderFd_, finalName_.c_str()) != 0) return false;
    tempName_.clear();
    return true;
}

void LocalFileWriter::Close() {
    // A file written in place keeps what arrived, as it would unbuffered; a
    // temporary one goes anyway.
    if (tempName_.empty()) Flush();
    pending_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty()) {
        const int saved = errno;
        ::unlinkat(folderFd_, tempName_.c_str(), 0);
        errno = saved;
        tempName_.clear();
    }
    if (folderFd_ >= 0) ::close(folderFd_);
    folderFd_ = -1;
}

bool LocalFileWriter::Truncate() {
    return fd_ >= 0 && ::ftruncate(fd_, 0) == 0;
}

bool LocalFileWriter::Finish() {
    if (fd_ < 0 || !Commit()) {
        Close();
        return false;
    }
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    Close();
    return closed;
}

std::int64_t LocalFileWriter::Write(const std::uint8_t* data, int n) {
    if (fd_ < 0 || n < 0) return -1;
    const std::uint8_t* bytes = data;
    std::size_t len = static_cast<std::size_t>(n);
    if (netascii_) {
        if (scratch_.size() < 2 * len) scratch_.resize(2 * len);
        len = writer_.Convert(data, len, scratch_.data());
        bytes = scratch_.data();
    }
    if (behind_ == 0 && pending_.empty()) {
        const std::int64_t w = WriteAll(fd_, bytes, len);
        return w == static_cast<std::int64_t>(len) ? w : -1;
    }
    if (pending_.size() + len > behind_ && !Flush()) return -1;
    if (len > behind_) {
        const std::int64_t w = WriteAll(fd_, bytes, len);
        return w == static_cast<std::int64_t>(len) ? w : -1;
    }
    pending_.insert(pending_.end(), bytes, bytes + len);
    return static_cast<std::int64_t>(len);
}

void LocalFileWriter::WriteBehind(std::size_t bytes) {
    behind_ = bytes;
    pending_.reserve(bytes);
}

bool LocalFileWriter::Flush() {
    if (pending_.empty()) return true;
    if (fd_ < 0) return false;
    const std::int64_t w = WriteAll(fd_, pending_.data(), pending_.size());
    const bool whole = w == static_cast<std::int64_t>(pending_.size());
    pending_.clear();
    return whole;
}

}  // namespace tftp
