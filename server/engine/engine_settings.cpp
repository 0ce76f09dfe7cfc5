#include "engine_settings.h"

#include "common/address_pattern.h"

namespace {

bool MatchesAny(const std::array<std::string, EngineSettings::kListSlots>& list,
                const std::string& address) {
    for (const std::string& pattern : list)
        if (MatchesAddressPattern(pattern, address)) return true;
    return false;
}

}  // namespace

bool EngineSettings::MatchesAllowList(const std::string& address) const {
    return MatchesAny(Allow, address);
}

bool EngineSettings::MatchesDenyList(const std::string& address) const {
    return MatchesAny(Deny, address);
}
