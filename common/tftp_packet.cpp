#include "tftp_packet.h"

#include <array>
#include <charconv>
#include <cstring>

namespace tftp {
namespace {

constexpr std::array<std::string_view, 9> kErrorTable = {
    "Inconclusive system error",
    "File not found",
    "Access violation",
    "Disk full",
    "Unknown TFTP Operation",
    "Unknown transfer ID",
    "File already exists",
    "Option negotion failure",
    "Transfer Aborted",
};

// Appends bytes to a packet under construction; remembers overflow.
class Writer {
public:
    Writer(std::uint8_t* buf, std::size_t cap) : buf_(buf), cap_(cap) {}
    void U16(std::uint16_t v) {
        if (!Room(2)) return;
        PutU16(buf_ + len_, v);
        len_ += 2;
    }
    void Str(std::string_view s) {  // the text and its NUL
        if (!Room(s.size() + 1)) return;
        std::memcpy(buf_ + len_, s.data(), s.size());
        len_ += s.size();
        buf_[len_++] = 0;
    }
    void Number(std::uint64_t v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        Str(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
    }
    std::size_t Length() const { return failed_ ? 0 : len_; }

private:
    bool Room(std::size_t n) {
        if (failed_ || cap_ - len_ < n) {
            failed_ = true;
            return false;
        }
        return true;
    }
    std::uint8_t* buf_;
    std::size_t cap_;
    std::size_t len_ = 0;
    bool failed_ = false;
};

// A NUL-ended string starting at pos; the end of the data counts as NUL.
std::string_view StringAt(const std::uint8_t* data, std::size_t len, std::size_t pos) {
    if (pos >= len) return {};
    const auto* start = reinterpret_cast<const char*>(data + pos);
    const void* nul = std::memchr(start, 0, len - pos);
    const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start)
                              : len - pos;
    return std::string_view(start, n);
}

}  // namespace

std::string_view ErrorText(int code) {
    if (code < 0 || code >= static_cast<int>(kErrorTable.size())) return {};
    return kErrorTable[static_cast<std::size_t>(code)];
}

bool IsNetasciiMode(std::string_view mode) { return EqualsNoCase(mode, "netascii"); }
bool IsOctetMode(std::string_view mode) { return EqualsNoCase(mode, "octet"); }

std::size_t BuildRequest(std::uint8_t* buf, std::size_t cap, Opcode opcode,
                         std::string_view remoteName, std::string_view mode,
                         const RequestOffer& offer) {
    Writer w(buf, cap);
    w.U16(opcode);
    w.Str(remoteName);
    w.Str(mode);
    const OptionValues offered = OfferedOptions(opcode == kRrq, offer);
    for (const OptionInfo& info : kKnownOptions) {
        if (const auto value = offered.Get(info.id)) {
            w.Str(info.name);
            w.Number(*value);
        }
    }
    return w.Length();
}

std::vector<Option> ReadOptions(const std::uint8_t* data, std::size_t len, std::size_t offset) {
    std::vector<Option> options;
    std::size_t pos = offset;
    std::size_t counted = 0;
    while (pos < len && counted < static_cast<std::size_t>(kOptionReadLimit)) {
        const std::string_view name = StringAt(data, len, pos);
        if (name.empty()) break;
        pos += name.size() + 1;
        Option option;
        option.name = ClassifyOption(name);
        std::size_t digits = 0;
        for (; pos < len && data[pos] >= '0' && data[pos] <= '9'; ++pos, ++digits) {
            const std::uint64_t d = data[pos] - '0';
            option.value = option.value > (UINT64_MAX - d) / 10 ? UINT64_MAX : option.value * 10 + d;
        }
        // Step past whatever else the value holds, and its NUL.
        while (pos < len && data[pos] != 0) ++pos;
        ++pos;
        counted += name.size() + digits;
        options.push_back(option);
    }
    return options;
}

Request ParseRequest(const std::uint8_t* data, std::size_t len) {
    if (len > static_cast<std::size_t>(kMaxRequestLength)) len = kMaxRequestLength;
    Request request;
    request.opcode = OpcodeOf(data, len);
    std::size_t pos = 2;
    const std::string_view name = StringAt(data, len, pos);
    request.fileName.assign(name);
    pos += name.size() + 1;
    const std::string_view mode = StringAt(data, len, pos);
    request.mode.assign(mode);
    pos += mode.size() + 1;
    request.options = ReadOptions(data, len, pos);
    return request;
}

std::size_t BuildAck(std::uint8_t* buf, std::size_t cap, std::uint16_t block) {
    Writer w(buf, cap);
    w.U16(kAck);
    w.U16(block);
    return w.Length();
}

void PutDataHeader(std::uint8_t* buf, std::uint16_t block) {
    PutU16(buf, kData);
    PutU16(buf + 2, block);
}

std::size_t BuildError(std::uint8_t* buf, std::size_t cap, std::uint16_t code,
                       std::string_view text) {
    Writer w(buf, cap);
    w.U16(kError);
    w.U16(code);
    w.Str(text);
    return w.Length();
}

std::size_t BuildOptionFailure(std::uint8_t* buf, std::size_t cap) {
    Writer w(buf, cap);
    w.U16(kOptionFailure);
    w.U16(0);
    w.Str(ErrorText(kErrUndefined));
    return w.Length();
}

std::string ReadErrorText(const std::uint8_t* data, std::size_t len) {
    return std::string(StringAt(data, len, 4));
}

std::size_t BuildOack(std::uint8_t* buf, std::size_t cap, const OptionValues& values) {
    Writer w(buf, cap);
    w.U16(kOack);
    for (const OptionInfo& info : kKnownOptions) {
        if (const auto value = values.Get(info.id)) {
            w.Str(info.name);
            w.Number(*value);
        }
    }
    return w.Length();
}

}  // namespace tftp
