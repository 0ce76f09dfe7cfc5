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

const OptionInfo& InfoOf(OptionName name) { return kKnownOptions[IndexOf(name)]; }

OptionValues OfferedOptions(bool readRequest, const RequestOffer& offer) {
    OptionValues offered;
    if (offer.noOptions) return offered;
    for (const OptionInfo& info : kKnownOptions) {
        if (info.offeredIn == OfferedIn::ReadRequests && !readRequest) continue;
        const std::uint64_t value = info.offerValue ? offer.*info.offerValue : 0;
        const bool on = info.offerSwitch ? offer.*info.offerSwitch
                                         : (!info.offerValue || value != info.defaultValue);
        if (on) offered.Set(info.id, value);
    }
    return offered;
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
        if (option.name == OptionName::Other) continue;
        const OptionInfo& info = InfoOf(option.name);
        if (info.offeredIn == OfferedIn::ReadRequests && !rules.readRequest) continue;
        const bool on = !info.switchedBy || rules.*info.switchedBy;
        // Below the range: a block size no block could carry data in is
        // refused; a time-out of no seconds or a window of no block counts
        // as not offered. Above it: a client cannot hold its transfer (and
        // a client slot) for days, a DATA packet would not fit a datagram.
        if (option.value < info.minValue) {
            if (info.below == BelowRange::Refused) {
                choice.blockSizeRefused = true;
                return choice;
            }
            continue;
        }
        if (option.value > info.maxValue && info.echo != EchoRule::Capped) continue;
        std::uint64_t value = option.value;
        switch (info.echo) {
        case EchoRule::FileSize:
            if (on) choice.echo.Set(info.id, 0);
            continue;
        case EchoRule::AsAsked:
            break;
        case EchoRule::Capped: {
            // Above the largest (the 16-bit limit of a window included) the
            // server's answer is the largest, which a client must accept.
            if (!on) continue;
            // A largest of 0 is no cap but the row's range (the block size
            // when the administrator set none).
            const int taken = info.largest ? rules.*info.largest : 0;
            const std::uint64_t largest =
                taken > 0 ? static_cast<std::uint64_t>(std::clamp<std::int64_t>(
                                taken, static_cast<std::int64_t>(info.minValue),
                                static_cast<std::int64_t>(info.maxValue)))
                          : info.maxValue;
            value = std::min(value, largest);
            break;
        }
        }
        if (info.takenInto) choice.*info.takenInto = static_cast<int>(value);
        if (on) choice.echo.Set(info.id, value);
    }
    return choice;
}

}  // namespace tftp
