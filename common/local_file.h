// The local file of a transfer, read or written in octet mode (bytes as they
// are) or netascii mode (the conversions of netascii.h). Sizes are 64-bit.
#pragma once

#include "common/uninitialized_bytes.h"

#include "netascii.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tftp {

// True for an errno that tells of a shortage of the system's resources
// (descriptors, memory) rather than of anything about the file itself.
bool IsResourceShortage(int error);

class LocalFileReader {
public:
    LocalFileReader() = default;
    ~LocalFileReader();
    LocalFileReader(const LocalFileReader&) = delete;
    LocalFileReader& operator=(const LocalFileReader&) = delete;

    // Opens an existing regular file for reading, never waiting: a FIFO,
    // device, socket or folder is refused at once. With within, the folder
    // that path was made from (FileInFolder), the file must also lie inside
    // that folder once every symbolic link is resolved. False when it cannot be opened (errno tells why: EISDIR or
    // ENODEV for what is not a regular file, EXDEV for a file outside).
    bool Open(const std::string& path, bool netascii, const std::string* within = nullptr);
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

    // Raw bytes read ahead from rawStart_ (netascii: rawPos_.. are unused).
    UninitializedBytes raw_;
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
    // existing file keeps its bytes until Truncate), writing straight into
    // it. Only a regular file is written (errno EISDIR or ENODEV for a
    // folder, FIFO, device or socket). False when it cannot.
    bool Create(const std::string& path, bool netascii, bool emptyNow = true);
    // Empties the file before the first write. False when it cannot.
    bool Truncate();
    // Writes into a new temporary file beside path; only Commit puts it
    // under path's name (replacing what was there, a symbolic link included,
    // whose target is never touched). A Close without Commit removes it, so
    // the old file stays as it was. The folder path is in must lie inside
    // within (the folder path was made from, FileInFolder) once links are
    // resolved (errno EXDEV otherwise); an existing file that may not be
    // written is refused (EACCES). Where the folder takes no new file
    // but path is a regular file that may be written, it is emptied and
    // written in place, as Create does.
    bool CreateReplacing(const std::string& path, bool netascii, const std::string& within);
    // Gives the written file its name. True also for a file written in
    // place; false when the rename failed (errno tells why).
    bool Commit();
    // Closes the file; a temporary file that was not committed is removed.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // The last block has been written: gives the file its name (Commit) and
    // closes it. False when that failed: a file written beside its target is
    // then removed.
    bool Finish();

    // Writes n received bytes (converted in netascii mode). Returns the bytes
    // that reached the file (or its write-behind buffer), or -1 when fewer
    // than all of them did (a full disk, for instance).
    std::int64_t Write(const std::uint8_t* data, int n);
    // Holds up to bytes of written data and hands them to the file in one
    // call when they would overflow it, at Flush, Commit and Finish (0: each
    // Write goes to the file at once). Several blocks of a window then cost
    // one system call.
    void WriteBehind(std::size_t bytes);
    // Hands what is held to the file. False when it took fewer bytes.
    bool Flush();

private:
    int fd_ = -1;
    int folderFd_ = -1;        // CreateReplacing: the folder of both names
    std::string tempName_;     // set while a temporary file awaits Commit
    std::string finalName_;
    bool netascii_ = false;
    NetasciiWriteConverter writer_;
    UninitializedBytes scratch_;
    std::size_t behind_ = 0;             // write-behind capacity; 0: none
    UninitializedBytes pending_;  // written, not yet in the file
};

}  // namespace tftp
