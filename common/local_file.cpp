#include "local_file.h"

#include <cerrno>
#include <fcntl.h>
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
}  // namespace

LocalFileReader::~LocalFileReader() { Close(); }

bool LocalFileReader::Open(const std::string& path, bool netascii) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int saved = S_ISDIR(st.st_mode) ? EISDIR : errno;
        Close();
        errno = saved;
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
    if (netascii_) raw_.resize(kRawChunk);
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
    int got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd_, out + got, static_cast<std::size_t>(n - got), offset_);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<int>(r);
        offset_ += r;
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
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | (emptyNow ? O_TRUNC : 0) | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    netascii_ = netascii;
    writer_.Reset();
    return true;
}

void LocalFileWriter::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LocalFileWriter::Truncate() {
    return fd_ >= 0 && ::ftruncate(fd_, 0) == 0;
}

bool LocalFileWriter::Finish() {
    if (fd_ < 0) return false;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

std::int64_t LocalFileWriter::Write(const std::uint8_t* data, int n) {
    if (fd_ < 0 || n < 0) return -1;
    if (!netascii_) {
        const std::int64_t w = WriteAll(fd_, data, static_cast<std::size_t>(n));
        return w == n ? w : -1;
    }
    if (scratch_.size() < 2 * static_cast<std::size_t>(n)) scratch_.resize(2 * static_cast<std::size_t>(n));
    const std::size_t len = writer_.Convert(data, static_cast<std::size_t>(n), scratch_.data());
    const std::int64_t w = WriteAll(fd_, scratch_.data(), len);
    return w == static_cast<std::int64_t>(len) ? w : -1;
}

}  // namespace tftp
