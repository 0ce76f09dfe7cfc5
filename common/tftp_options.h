// The options both programs know, described once: one row each. The table's
// order is the order in which a client offers them and a server's OACK lists
// them. A request (BuildRequest), an OACK (BuildOack) and the server's
// acceptance (ChooseServerOptions) are built from the rows; adding an option
// is adding its row, the field its value goes to on each side and the
// settings that switch it.
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
inline constexpr std::size_t kOptionCount = static_cast<std::size_t>(OptionName::Other);

inline constexpr int kDefaultBlockSize = 512;
// Block sizes a transfer may use: below the minimum no transfer can make
// progress; above the maximum a DATA packet no longer fits a UDP datagram.
inline constexpr int kMinBlockSize = 8;
inline constexpr int kMaxBlockSize = 65464;
// Blocks per ACK the windowsize option can ask for.
inline constexpr int kMinWindow = 1;
inline constexpr int kMaxWindow = 65535;
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

// Option values by name: what a request offers or an OACK echoes.
class OptionValues {
public:
    void Set(OptionName name, std::uint64_t value);
    std::optional<std::uint64_t> Get(OptionName name) const;
    bool Any() const;

private:
    std::array<std::optional<std::uint64_t>, kOptionCount> values_{};
};

// What a client's request offers.
struct RequestOffer {
    bool offerTimeout = false;
    std::uint32_t timeoutSecs = 0;
    std::uint32_t blockSize = kDefaultBlockSize;
    std::uint32_t window = 1;  // windowsize offered when above 1
    bool noOptions = false;  // none at all, not even tsize
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

// Which requests a client offers an option in.
enum class OfferedIn { ReadRequests, AnyRequest };
// How a server answers an option it takes.
enum class EchoRule {
    FileSize,  // with the file's length: the value asked is not looked at
    AsAsked,   // with the value asked for; the switch governs the echo only
    Capped,    // with the value asked for, capped at the largest taken; not
               // taken at all unless switched on
};
// What a value below the row's range means; above it, a capped option is
// capped and any other counts as not offered.
enum class BelowRange { NotOffered, Refused };

struct OptionInfo {
    OptionName id;
    std::string_view name;  // on the wire, in lower case
    std::uint64_t minValue, maxValue;
    BelowRange below;
    OfferedIn offeredIn;
    EchoRule echo;
    // Server: the setting that switches it (null: always on), the largest
    // value it takes (null: maxValue) and where the value taken goes (null:
    // nowhere).
    bool ServerOptionRules::*switchedBy;
    int ServerOptionRules::*largest;
    int ServerOptionChoice::*takenInto;
    // Client: the field with the value it offers (null: "0") and the one
    // that switches the offer (null: offered when the value is not
    // defaultValue).
    std::uint32_t RequestOffer::*offerValue;
    bool RequestOffer::*offerSwitch;
    std::uint64_t defaultValue;
};

inline constexpr std::array<OptionInfo, kOptionCount> kKnownOptions = {{
    {OptionName::Tsize, "tsize", 0, UINT64_MAX, BelowRange::NotOffered, OfferedIn::ReadRequests,
     EchoRule::FileSize, &ServerOptionRules::allowTsize, nullptr, nullptr, nullptr, nullptr, 0},
    {OptionName::Timeout, "timeout", kMinTimeoutOption, kMaxTimeoutOption, BelowRange::NotOffered,
     OfferedIn::AnyRequest, EchoRule::AsAsked, &ServerOptionRules::allowTimeout, nullptr,
     &ServerOptionChoice::timeoutSecs, &RequestOffer::timeoutSecs, &RequestOffer::offerTimeout, 0},
    {OptionName::Blksize, "blksize", kMinBlockSize, kMaxBlockSize, BelowRange::Refused,
     OfferedIn::AnyRequest, EchoRule::Capped, nullptr, &ServerOptionRules::maxBlockSize, &ServerOptionChoice::blockSize,
     &RequestOffer::blockSize, nullptr, kDefaultBlockSize},
    {OptionName::Windowsize, "windowsize", kMinWindow, kMaxWindow, BelowRange::NotOffered,
     OfferedIn::AnyRequest, EchoRule::Capped, &ServerOptionRules::allowWindow,
     &ServerOptionRules::maxWindow, &ServerOptionChoice::window, &RequestOffer::window, nullptr, 1},
}};

// The row of a known option.
const OptionInfo& InfoOf(OptionName name);

// ASCII letters compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The known option of that name (compared without regard to case), or Other.
OptionName ClassifyOption(std::string_view name);

// What a request offers, by the rows: nothing at all with noOptions.
OptionValues OfferedOptions(bool readRequest, const RequestOffer& offer);

// A block size a transfer may offer or take under cap (0: none): the
// smaller of the two, a cap below the protocol's least size read as that.
int CappedBlockSize(int blockSize, int cap);

ServerOptionChoice ChooseServerOptions(const std::vector<Option>& offered,
                                       const ServerOptionRules& rules);

}  // namespace tftp
