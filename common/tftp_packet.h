// The TFTP wire format both programs speak: RFC 1350 with the option
// extension (RFC 2347) and the options blksize, timeout and tsize, plus the
// programs' own option-failure packet.
//
// Every 16-bit field is big-endian; a packet's length is its datagram's.
//
//   RRQ/WRQ  | 01/02 | file name | 0 | mode | 0 | opt | 0 | value | 0 | ...
//   DATA     | 03 | block |  0 to blksize data bytes  |
//   ACK      | 04 | block |
//   ERROR    | 05 | code  | text | 0 |
//   OACK     | 06 | opt | 0 | value | 0 | ...          (server's fixed order)
//   OPTFAIL  | 08 | 00 00 | "Inconclusive system error" | 0 |   (30 bytes)
//
// Builders write into a caller's buffer and return the packet's length, or 0
// when it does not fit. Readers never look past the bytes they are given.
#pragma once

#include "tftp_options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tftp {

enum Opcode : std::uint16_t {
    kRrq = 1,
    kWrq = 2,
    kData = 3,
    kAck = 4,
    kError = 5,
    kOack = 6,
    kOptionFailure = 8,
};

// The block sizes and windows a transfer may use: tftp_options.h.
// A transfer's packet buffer holds the block plus this much.
inline constexpr int kBufferSlack = 20;
inline constexpr int kHeaderLength = 4;

// How much of a datagram a transfer reads: a block with its header, and never
// less than a 512-byte block's, so that an OACK or an ERROR still fits when
// the blocks are tiny. A DATA packet longer than a block is still dropped.
inline int ReadCapacity(int blockSize) {
    return blockSize < kDefaultBlockSize ? kDefaultBlockSize + kHeaderLength : blockSize + kHeaderLength;
}
// The packet buffer for that: what is read, and the slack.
inline int PacketBufferSize(int blockSize) {
    return ReadCapacity(blockSize) + kBufferSlack - kHeaderLength;
}

// A request must arrive whole in this many bytes (RFC 1350's packet size);
// a longer one is answered with ERROR 4. Its file name may take all of it.
inline constexpr int kMaxRequestLength = 512;
// Reading a request's options stops once option names and value digits
// reach this; the file name and the mode do not count.
inline constexpr int kOptionReadLimit = 90;

enum ErrorCode : std::uint16_t {
    kErrUndefined = 0,
    kErrFileNotFound = 1,
    kErrAccessViolation = 2,
    kErrDiskFull = 3,
    kErrIllegalOperation = 4,
    kErrUnknownTransferId = 5,
    kErrFileExists = 6,
    kErrOptionNegotiation = 7,
    kErrTransferAborted = 8,  // sent by the client only
};

// The error table; codes 0 to 8. An unknown code gives an empty text.
std::string_view ErrorText(int code);

// The server's two refusals, sent with error code 0.
inline constexpr std::string_view kServiceNotAvailable = "Service not available";
inline constexpr std::string_view kTooManyClients = "Too Many Clients";

inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

// The opcode of a datagram, or 0 when it is shorter than two bytes.
inline std::uint16_t OpcodeOf(const std::uint8_t* data, std::size_t len) {
    return len >= 2 ? GetU16(data) : 0;
}

// Each side counts blocks in a wide counter and puts its low 16 bits on the
// wire: after block 65535 comes block 0.
inline std::uint16_t WireBlock(std::uint64_t counter) {
    return static_cast<std::uint16_t>(counter & 0xFFFFu);
}
inline bool SameBlock(std::uint16_t wire, std::uint64_t counter) {
    return wire == WireBlock(counter);
}

// Mode words, compared without regard to case.
bool IsNetasciiMode(std::string_view mode);
bool IsOctetMode(std::string_view mode);

// A 32-bit field from an option value: values too large for it saturate.
inline std::uint32_t Saturate32(std::uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

// ---- requests ----------------------------------------------------------

// What a client offers: RequestOffer, in tftp_options.h.
// A request as the client builds it: opcode, remote name unchanged, mode,
// then the options in the order of the option table: "tsize" "0" for a read
// request only, "timeout" when offered, "blksize" when the block size is
// not 512, and "windowsize" when the window is above 1.
std::size_t BuildRequest(std::uint8_t* buf, std::size_t cap, Opcode opcode,
                         std::string_view remoteName, std::string_view mode,
                         const RequestOffer& offer);

// A request as the server reads it from a datagram of 4 to 512 bytes (only
// the first 512 of a longer one are looked at); bytes past the datagram's
// end read as NUL.
struct Request {
    std::uint16_t opcode = 0;
    std::string fileName;
    std::string mode;
    std::vector<Option> options;  // in the order given; repeats kept
};
Request ParseRequest(const std::uint8_t* data, std::size_t len);

// Option pairs from offset on, read as a request's are: each name up to its
// NUL, the value's leading digits, then past the value's NUL; stops at an
// empty name, at the end of the data, or once names and digits reach 90
// characters in all.
std::vector<Option> ReadOptions(const std::uint8_t* data, std::size_t len, std::size_t offset);

// ---- data, acknowledgements, errors --------------------------------------

// ACK: 4 bytes.
std::size_t BuildAck(std::uint8_t* buf, std::size_t cap, std::uint16_t block);
// Writes the 4-byte DATA header; the data goes at buf + 4.
void PutDataHeader(std::uint8_t* buf, std::uint16_t block);
// ERROR: opcode, code, text, NUL (the text's length + 5 bytes).
std::size_t BuildError(std::uint8_t* buf, std::size_t cap, std::uint16_t code,
                       std::string_view text);
// The option-failure packet: opcode 8, 16-bit zero, table entry 0, NUL.
std::size_t BuildOptionFailure(std::uint8_t* buf, std::size_t cap);
// An ERROR's text, read up to its NUL or the end of the datagram.
std::string ReadErrorText(const std::uint8_t* data, std::size_t len);

// ---- option acknowledgement ---------------------------------------------

// OACK with the present options in the order of the option table.
std::size_t BuildOack(std::uint8_t* buf, std::size_t cap, const OptionValues& values);

}  // namespace tftp
