#include "server_settings.h"

namespace {

bool MatchesAny(const std::array<std::string, ServerSettings::kListSlots>& list,
                const std::string& address) {
    for (const std::string& pattern : list)
        if (MatchesAddressPattern(pattern, address)) return true;
    return false;
}

}  // namespace

bool ServerSettings::MatchesAllowList(const std::string& address) const {
    return MatchesAny(Allow, address);
}

bool ServerSettings::MatchesDenyList(const std::string& address) const {
    return MatchesAny(Deny, address);
}
