#include "engine_settings.h"

#include <array>
#include <cstdint>

namespace {

struct Field {
    bool wildcard = false;
    std::uint64_t number = 0;
};

// Splits text into four fields; what follows a fourth "." is ignored.
std::array<Field, 4> Fields(const std::string& text) {
    std::array<Field, 4> fields{};
    std::size_t f = 0;
    for (const char c : text) {
        if (c == '.') {
            if (++f == 4) break;
            continue;
        }
        if (c == '*') fields[f].wildcard = true;
        else if (c >= '0' && c <= '9' && fields[f].number < 1'000'000'000'000ull)
            fields[f].number = fields[f].number * 10 + static_cast<unsigned>(c - '0');
    }
    return fields;
}

bool MatchesAny(const std::array<std::string, EngineSettings::kListSlots>& list,
                const std::string& address) {
    for (const std::string& pattern : list)
        if (MatchesAddressPattern(pattern, address)) return true;
    return false;
}

}  // namespace

bool MatchesAddressPattern(const std::string& pattern, const std::string& address) {
    if (pattern.empty()) return false;
    const std::array<Field, 4> p = Fields(pattern);
    const std::array<Field, 4> a = Fields(address);
    for (std::size_t i = 0; i < 4; ++i)
        if (!p[i].wildcard && p[i].number != a[i].number) return false;
    return true;
}

bool EngineSettings::MatchesAllowList(const std::string& address) const {
    return MatchesAny(Allow, address);
}

bool EngineSettings::MatchesDenyList(const std::string& address) const {
    return MatchesAny(Deny, address);
}
