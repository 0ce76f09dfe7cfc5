#include "tftp_options.h"

#include "tftp_packet.h"

#include <algorithm>

namespace tftp {
namespace {

std::size_t IndexOf(OptionName name) { return static_cast<std::size_t>(name); }

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

OptionName ClassifyOption(std::string_view name) {
    for (const OptionInfo& info : kKnownOptions)
        if (EqualsNoCase(name, info.name)) return info.id;
    return OptionName::Other;
}

void OptionValues::Set(OptionName name, std::uint64_t value) {
    if (name != OptionName::Other) values_[IndexOf(name)] = value;
}

std::optional<std::uint64_t> OptionValues::Get(OptionName name) const {
    if (name == OptionName::Other) return std::nullopt;
    return values_[IndexOf(name)];
}

bool OptionValues::Any() const {
    return std::any_of(values_.begin(), values_.end(), [](const auto& v) { return v.has_value(); });
}

int CappedBlockSize(int blockSize, int cap) {
    if (cap <= 0 || cap >= kMaxBlockSize) return blockSize;
    return std::min(blockSize, std::max(cap, kMinBlockSize));
}

ServerOptionChoice ChooseServerOptions(const std::vector<Option>& offered,
                                       const ServerOptionRules& rules) {
    ServerOptionChoice choice;
    // An option given twice takes effect twice: the later value wins.
    for (const Option& option : offered) {
        switch (option.name) {
        case OptionName::Tsize:
            if (rules.allowTsize && rules.readRequest) choice.echo.Set(OptionName::Tsize, 0);
            break;
        case OptionName::Timeout:
            // Outside 1 to 255 seconds the offer counts as absent: a client
            // cannot hold its transfer (and a client slot) for days.
            if (option.value < kMinTimeoutOption || option.value > kMaxTimeoutOption) break;
            choice.timeoutSecs = static_cast<int>(option.value);
            if (rules.allowTimeout) choice.echo.Set(OptionName::Timeout, option.value);
            break;
        case OptionName::Blksize:
            // Below the minimum no block could carry data; above the maximum
            // a DATA packet would not fit a datagram.
            if (option.value < static_cast<std::uint64_t>(kMinBlockSize)) {
                choice.blockSizeRefused = true;
                return choice;
            }
            // Above the administrator's cap the answer is the cap, which the
            // client takes as a smaller size (or refuses with ERROR 8).
            choice.blockSize = CappedBlockSize(static_cast<int>(std::min<std::uint64_t>(
                                                   option.value, static_cast<std::uint64_t>(kMaxBlockSize))),
                                               rules.maxBlockSize);
            choice.echo.Set(OptionName::Blksize, static_cast<std::uint64_t>(choice.blockSize));
            break;
        case OptionName::Windowsize: {
            // No window holds no block: 0 counts as not offered. Above the
            // maximum (the 16-bit limit included) the server's answer is the
            // maximum, which a client must accept as a smaller window.
            if (!rules.allowWindow || option.value < static_cast<std::uint64_t>(kMinWindow)) break;
            const int largest = std::clamp(rules.maxWindow, kMinWindow, kMaxWindow);
            choice.window = static_cast<int>(
                std::min<std::uint64_t>(option.value, static_cast<std::uint64_t>(largest)));
            choice.echo.Set(OptionName::Windowsize, static_cast<std::uint64_t>(choice.window));
            break;
        }
        case OptionName::Other:
            break;
        }
    }
    return choice;
}

}  // namespace tftp
