// The options both programs know, described once. The table's order is the
// order in which a client offers them and a server's OACK lists them.
//
//   name      offered by the client           echoed by the server
//   tsize     read requests ("0")             read requests: the file's length
//   timeout   when "Send timeout" is checked  read and write requests
//   blksize   when the block size is not 512  read and write requests
//   windowsize  when the window is above 1    read and write requests, when
//                                             the server allows it
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tftp {

enum class OptionName { Tsize, Timeout, Blksize, Windowsize, Other };

struct OptionInfo {
    OptionName id;
    std::string_view name;  // on the wire, in lower case
    bool echoForRead;       // a server may echo it for a read request
    bool echoForWrite;      // ... and for a write request
};

inline constexpr std::array<OptionInfo, 4> kKnownOptions = {{
    {OptionName::Tsize, "tsize", true, false},
    {OptionName::Timeout, "timeout", true, true},
    {OptionName::Blksize, "blksize", true, true},
    {OptionName::Windowsize, "windowsize", true, true},
}};

// A client's timeout outside these seconds counts as not offered.
inline constexpr std::uint64_t kMinTimeoutOption = 1;
inline constexpr std::uint64_t kMaxTimeoutOption = 255;

// One option as read from a request or an OACK.
struct Option {
    OptionName name = OptionName::Other;
    // The value's leading decimal digits. A digit run too long for 64 bits
    // saturates at the largest value instead of wrapping.
    std::uint64_t value = 0;
};

// ASCII letters compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The known option of that name (compared without regard to case), or Other.
OptionName ClassifyOption(std::string_view name);

// Option values by name: what a request offers or an OACK echoes.
class OptionValues {
public:
    void Set(OptionName name, std::uint64_t value);
    std::optional<std::uint64_t> Get(OptionName name) const;
    bool Any() const;

private:
    std::array<std::optional<std::uint64_t>, kKnownOptions.size()> values_{};
};

// What a server makes of a request's options, before it sizes its buffers.
struct ServerOptionRules {
    bool allowTsize = true;    // echo tsize
    bool allowTimeout = true;  // echo timeout
    bool readRequest = true;
    bool allowWindow = false;  // take windowsize
    int maxWindow = 1;         // the largest window taken
    // The largest block size taken; a larger blksize is answered with this
    // one. 0 (or anything past kMaxBlockSize): no cap but the datagram's.
    int maxBlockSize = 0;
};
struct ServerOptionChoice {
    OptionValues echo;            // what the OACK carries, blksize as asked (the transfer
                                  // puts in the size it can use); tsize marked with 0
    int timeoutSecs = 0;          // the client's time-out in range; 0: the server's own
    int blockSize = 0;            // the block size asked for, capped at the largest; 0: none
    int window = 1;               // blocks per ACK: the client's, capped at the largest
    bool blockSizeRefused = false;  // a block size no transfer can use: option failure
};
// A block size a transfer may offer or take under cap (0: none): the
// smaller of the two, a cap below the protocol's least size read as that.
int CappedBlockSize(int blockSize, int cap);

ServerOptionChoice ChooseServerOptions(const std::vector<Option>& offered,
                                       const ServerOptionRules& rules);

}  // namespace tftp
