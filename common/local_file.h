// The local file of a transfer, read or written in octet mode (bytes as they
// are) or netascii mode (the conversions of netascii.h). Sizes are 64-bit.
#pragma once

#include "netascii.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tftp {

class LocalFileReader {
public:
    LocalFileReader() = default;
    ~LocalFileReader();
    LocalFileReader(const LocalFileReader&) = delete;
    LocalFileReader& operator=(const LocalFileReader&) = delete;

    // Opens an existing regular file for reading. False when it cannot be
    // opened (errno tells why).
    bool Open(const std::string& path, bool netascii);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // The file's length on disk, before any conversion.
    std::int64_t Size() const { return size_; }

    // Reads the next n bytes of data (converted in netascii mode) into out.
    // Returns the count, fewer than n only at the end of the data; -1 on a
    // read error.
    int Read(std::uint8_t* out, int n);
    // Goes back to where the last Read began, so that the same bytes come
    // again. False when there is nothing to go back to.
    bool RewindLastRead();

private:
    int ReadOctet(std::uint8_t* out, int n);
    int ReadNetascii(std::uint8_t* out, int n);
    bool Refill();

    int fd_ = -1;
    bool netascii_ = false;
    std::int64_t size_ = 0;
    std::int64_t offset_ = 0;         // file offset of the next unconsumed byte
    std::int64_t lastReadStart_ = -1;  // offset_ when the last Read began

    // netascii only: raw bytes from rawStart_, of which rawPos_.. are unused.
    std::vector<std::uint8_t> raw_;
    std::int64_t rawStart_ = 0;
    std::size_t rawPos_ = 0;
    std::size_t rawLen_ = 0;
    bool rawEof_ = false;
    NetasciiReadConverter reader_;
};

class LocalFileWriter {
public:
    LocalFileWriter() = default;
    ~LocalFileWriter();
    LocalFileWriter(const LocalFileWriter&) = delete;
    LocalFileWriter& operator=(const LocalFileWriter&) = delete;

    // Creates the file, or empties an existing one (with emptyNow false, an
    // existing file keeps its bytes until Truncate). False when it cannot.
    bool Create(const std::string& path, bool netascii, bool emptyNow = true);
    // Empties the file before the first write. False when it cannot.
    bool Truncate();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // The last block has been written: makes the file final and closes it.
    // False when that failed (the file may be incomplete).
    bool Finish();

    // Writes n received bytes (converted in netascii mode). Returns the bytes
    // that reached the file, or -1 when fewer than all of them did (a full
    // disk, for instance).
    std::int64_t Write(const std::uint8_t* data, int n);

private:
    int fd_ = -1;
    bool netascii_ = false;
    NetasciiWriteConverter writer_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace tftp
