#include "settings_store.h"

#include <algorithm>
#include "common/port_range.h"
#include "common/tftp_packet.h"

#include <cstring>
#include <vector>

using platform::RegKey;
using platform::RegistryStore;

namespace {

constexpr const char* kKeyPath[] = {"Software", "Brellin", "Vantry"};
constexpr const char* kRunOncePath[] = {"Software", "Microsoft", "Windows", "CurrentVersion",
                                        "RunOnce"};
// Text values are read through a buffer of this size...
constexpr std::uint32_t kReadBuffer = 1000;
// ...and written through one of 100 bytes: at most 99 characters are kept.
constexpr std::size_t kWriteLimit = ServerSettings::kMaxText;

// The open levels of one key path, closed in reverse order.
class KeyPath {
public:
    explicit KeyPath(RegistryStore& store) : store_(store) {}
    ~KeyPath() {
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) store_.CloseKey(*it);
    }
    template <std::size_t N>
    bool Open(const char* const (&levels)[N], bool create) {
        RegKey parent = platform::kHkeyCurrentUser;
        for (const char* level : levels) {
            RegKey key = 0;
            const bool ok = create ? store_.CreateKey(parent, level, key)
                                   : store_.OpenKey(parent, level, key);
            if (!ok) return false;
            open_.push_back(key);
            parent = key;
        }
        return true;
    }
    RegKey Key() const { return open_.back(); }

private:
    RegistryStore& store_;
    std::vector<RegKey> open_;
};

// A text value; field changes only when the read succeeds.
void ReadText(RegistryStore& store, RegKey key, const char* name, std::string& field) {
    char buffer[kReadBuffer];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = 0;
    if (!store.QueryValue(key, name, &type, buffer, size)) return;
    if (type != platform::kRegSz && type != platform::kRegExpandSz) return;
    field.assign(buffer, strnlen(buffer, size));
}

// A number read into a word preset by the caller; a missing value (or one
// that is not a number) leaves the preset.
void ReadDword(RegistryStore& store, RegKey key, const char* name, std::uint32_t& word) {
    std::uint8_t bytes[4];
    std::uint32_t size = sizeof bytes;
    std::uint32_t type = 0;
    if (!store.QueryValue(key, name, &type, bytes, size)) return;
    if (type != platform::kRegDword || size != 4) return;
    word = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void WriteText(RegistryStore& store, RegKey key, const char* name, const std::string& text) {
    std::string kept = text.substr(0, kWriteLimit);
    // Do not leave half of a UTF-8 character at the cut.
    if (text.size() > kWriteLimit) {
        std::size_t lead = kept.size();
        while (lead > 0 && (static_cast<unsigned char>(kept[lead - 1]) & 0xC0) == 0x80) --lead;
        if (lead > 0) {
            const auto c = static_cast<unsigned char>(kept[lead - 1]);
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (kept.size() - (lead - 1) < length) kept.resize(lead - 1);
        }
    }
    store.SetString(key, name, kept);
}

int Flag(std::uint32_t word, std::uint32_t mask) { return (word & mask) ? 1 : 0; }

std::string SlotName(const char* list, int slot) { return list + std::to_string(slot); }

// The name rewriting rules: a count and numbered values. Absent (a store
// from before the rules): none. A pattern is kept whole, not cut at the
// texts' limit: a cut pattern would match other names.
void LoadNameRules(RegistryStore& store, RegKey key, ServerSettings& s) {
    std::uint32_t count = 0;
    ReadDword(store, key, "nRemap", count);
    s.NameRules.clear();
    for (std::uint32_t i = 1; i <= count && i <= ServerSettings::kMaxNameRules; ++i) {
        tftp::NameRule rule;
        ReadText(store, key, SlotName("RemapPattern", static_cast<int>(i)).c_str(), rule.pattern);
        ReadText(store, key, SlotName("RemapReplace", static_cast<int>(i)).c_str(), rule.replacement);
        std::uint32_t stop = 0;
        ReadDword(store, key, SlotName("bRemapStop", static_cast<int>(i)).c_str(), stop);
        rule.stop = stop != 0;
        if (!rule.pattern.empty()) s.NameRules.push_back(std::move(rule));
    }
}

void SaveNameRules(RegistryStore& store, RegKey key, const ServerSettings& s) {
    const std::size_t count = std::min<std::size_t>(s.NameRules.size(), ServerSettings::kMaxNameRules);
    store.SetDword(key, "nRemap", static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const tftp::NameRule& rule = s.NameRules[i];
        const int slot = static_cast<int>(i + 1);
        store.SetString(key, SlotName("RemapPattern", slot), rule.pattern);
        store.SetString(key, SlotName("RemapReplace", slot), rule.replacement);
        store.SetDword(key, SlotName("bRemapStop", slot), rule.stop ? 1u : 0u);
    }
}

}  // namespace

std::string ServerStorePath() { return RegistryStore::ConfigPath("Brellin", "Vantry.reg"); }

void LoadSettings(RegistryStore& store, ServerSettings& s) {
    s.Port = "69";
    s.Timeout = "30";
    s.nDefAddress = 255;

    KeyPath path(store);
    if (!path.Open(kKeyPath, false)) return;
    const RegKey key = path.Key();

    std::uint32_t packed = 0;
    ReadDword(store, key, "bDelete", packed);
    s.bAlertMinimised = Flag(packed, kDeleteAlertMinimised);
    s.bAllowTsize = Flag(packed, kDeleteAllowTsize);
    s.bAllowTimeout = Flag(packed, kDeleteAllowTimeout);
    s.bNoSplash = Flag(packed, kDeleteNoSplash);
    s.bRaisePriority = Flag(packed, kDeleteRaisePriority);
    s.bUseGraphic = Flag(packed, kDeleteUseGraphic);
    s.bMinimiseAtStart = Flag(packed, kDeleteMinimiseAtStart);
    s.bShowMultihomed = Flag(packed, kDeleteHideMultihomed) ? 0 : 1;

    ReadText(store, key, "InPath", s.InPath);
    ReadText(store, key, "OutPath", s.OutPath);
    ReadText(store, key, "Port", s.Port);
    ReadText(store, key, "Timeout", s.Timeout);
    ReadText(store, key, "ForceFile", s.ForceFile);
    for (int i = 0; i < ServerSettings::kListSlots; ++i)
        ReadText(store, key, SlotName("Allow", i + 1).c_str(), s.Allow[i]);
    for (int i = 0; i < ServerSettings::kListSlots; ++i)
        ReadText(store, key, SlotName("Deny", i + 1).c_str(), s.Deny[i]);

    const auto readSwitch = [&](const char* name, int& field) {
        std::uint32_t word = 0;
        ReadDword(store, key, name, word);
        field = static_cast<int>(word);
    };
    readSwitch("bForce", s.bForce);
    readSwitch("bAllow", s.bAllow);
    readSwitch("bDeny", s.bDeny);
    readSwitch("bDisplay", s.bDisplay);

    std::uint32_t word = 255;
    ReadDword(store, key, "nDefAddress", word);
    s.nDefAddress = static_cast<int>(word);
    word = 0xFF;
    ReadDword(store, key, "nSliders", word);
    s.nMaxClients = static_cast<int>(word & 0xF);
    s.nMaxDisplay = static_cast<int>((word >> 4) & 0xF);
    word = 255;
    ReadDword(store, key, "nPriority", word);
    s.nPriority = static_cast<int>(word);

    // Written as "LogFile"; names match without regard to case.
    ReadText(store, key, "Logfile", s.LogFile);

    // Values of their own, so that a store written before they existed loads
    // as it always did: the option on, a window of at most 64 blocks.
    word = 1;
    ReadDword(store, key, "bAllowWindowsize", word);
    s.bAllowWindowsize = word != 0 ? 1 : 0;
    // Absent, 0 or beyond the largest window: the default cap.
    constexpr auto kDefaultCap = static_cast<std::uint32_t>(ServerSettings::kDefaultMaxWindowsize);
    word = kDefaultCap;
    ReadDword(store, key, "nMaxWindowsize", word);
    if (word < 1 || word > static_cast<std::uint32_t>(ServerSettings::kWindowsizeLimit)) word = kDefaultCap;
    s.nMaxWindowsize = static_cast<int>(word);

    // A store from before the choice listens on every address, unless its
    // user had settled on one address for good.
    const bool settledOnOne = s.nDefAddress >= 1 && s.nDefAddress <= 254 && s.bShowMultihomed == 0;
    word = settledOnOne ? 0 : 1;
    ReadDword(store, key, "bListenAll", word);
    s.bListenAll = word != 0 ? 1 : 0;
    // Absent in a store written before they existed: uploads taken and replaced.
    word = 0;
    ReadDword(store, key, "bRefuseUploads", word);
    s.bRefuseUploads = word != 0 ? 1 : 0;
    word = 0;
    ReadDword(store, key, "bNoReplace", word);
    s.bNoReplace = word != 0 ? 1 : 0;
    LoadNameRules(store, key, s);

    // Transfer ports and the block-size cap: absent (a store written before
    // they existed) or not sound, unset.
    const auto readNumber = [&](const char* name, int& field, std::uint32_t most) {
        word = 0;
        ReadDword(store, key, name, word);
        field = word <= most ? static_cast<int>(word) : 0;
    };
    readNumber("nPortRangeLow", s.nPortRangeLow, 65535);
    readNumber("nPortRangeHigh", s.nPortRangeHigh, 65535);
    if (tftp::StoredPortRange(s.nPortRangeLow, s.nPortRangeHigh).Empty()) s.nPortRangeLow = s.nPortRangeHigh = 0;
    readNumber("nMaxBlksize", s.nMaxBlksize, static_cast<std::uint32_t>(tftp::kMaxBlockSize));
    if (s.nMaxBlksize < tftp::kMinBlockSize) s.nMaxBlksize = 0;
}

void SaveSettings(RegistryStore& store, const ServerSettings& s) {
    KeyPath path(store);
    if (!path.Open(kKeyPath, true)) return;
    const RegKey key = path.Key();

    WriteText(store, key, "Location", s.Location);
    WriteText(store, key, "InPath", s.InPath);
    WriteText(store, key, "OutPath", s.OutPath);
    WriteText(store, key, "Port", s.Port);
    WriteText(store, key, "Timeout", s.Timeout);
    WriteText(store, key, "ForceFile", s.ForceFile);
    // Empty slots are written too: a slot the user cleared stays cleared.
    for (int i = 0; i < ServerSettings::kListSlots; ++i)
        WriteText(store, key, SlotName("Allow", i + 1).c_str(), s.Allow[i]);
    for (int i = 0; i < ServerSettings::kListSlots; ++i)
        WriteText(store, key, SlotName("Deny", i + 1).c_str(), s.Deny[i]);

    store.SetDword(key, "bForce", static_cast<std::uint32_t>(s.bForce));
    store.SetDword(key, "bAllow", static_cast<std::uint32_t>(s.bAllow));
    store.SetDword(key, "bDeny", static_cast<std::uint32_t>(s.bDeny));
    store.SetDword(key, "bDisplay", static_cast<std::uint32_t>(s.bDisplay));

    std::uint32_t packed = 0;
    if (s.bAlertMinimised) packed |= kDeleteAlertMinimised;
    if (s.bAllowTsize) packed |= kDeleteAllowTsize;
    if (s.bAllowTimeout) packed |= kDeleteAllowTimeout;
    if (s.bNoSplash) packed |= kDeleteNoSplash;
    if (s.bRaisePriority) packed |= kDeleteRaisePriority;
    if (s.bUseGraphic) packed |= kDeleteUseGraphic;
    if (s.bMinimiseAtStart) packed |= kDeleteMinimiseAtStart;
    if (!s.bShowMultihomed) packed |= kDeleteHideMultihomed;
    store.SetDword(key, "bDelete", packed);

    store.SetDword(key, "nDefAddress", static_cast<std::uint32_t>(s.nDefAddress));
    store.SetDword(key, "nSliders",
                   static_cast<std::uint32_t>(s.nMaxClients) + 16u * static_cast<std::uint32_t>(s.nMaxDisplay));
    store.SetDword(key, "nPriority", static_cast<std::uint32_t>(s.nPriority));
    WriteText(store, key, "LogFile", s.LogFile);
    store.SetDword(key, "bAllowWindowsize", s.bAllowWindowsize != 0 ? 1u : 0u);
    store.SetDword(key, "nMaxWindowsize", static_cast<std::uint32_t>(s.nMaxWindowsize));
    store.SetDword(key, "bListenAll", s.bListenAll != 0 ? 1u : 0u);
    store.SetDword(key, "bRefuseUploads", s.bRefuseUploads != 0 ? 1u : 0u);
    store.SetDword(key, "bNoReplace", s.bNoReplace != 0 ? 1u : 0u);
    SaveNameRules(store, key, s);

    store.SetDword(key, "nPortRangeLow", static_cast<std::uint32_t>(s.nPortRangeLow));
    store.SetDword(key, "nPortRangeHigh", static_cast<std::uint32_t>(s.nPortRangeHigh));
    store.SetDword(key, "nMaxBlksize", static_cast<std::uint32_t>(s.nMaxBlksize));
}

void SaveWindowPlacement(RegistryStore& store, const WindowRect& rect) {
    KeyPath path(store);
    if (!path.Open(kKeyPath, true)) return;
    store.SetDword(path.Key(), "WinLeft", static_cast<std::uint32_t>(rect.left));
    store.SetDword(path.Key(), "WinTop", static_cast<std::uint32_t>(rect.top));
    store.SetDword(path.Key(), "WinRight", static_cast<std::uint32_t>(rect.right));
    store.SetDword(path.Key(), "WinBottom", static_cast<std::uint32_t>(rect.bottom));
}

bool LoadWindowPlacement(RegistryStore& store, WindowRect& rect) {
    KeyPath path(store);
    if (!path.Open(kKeyPath, false)) return false;
    std::uint32_t word = 0;
    std::uint32_t type = 0;
    std::uint32_t size = sizeof word;
    if (!store.QueryValue(path.Key(), "WinLeft", &type, &word, size)) return false;
    rect.left = static_cast<std::int32_t>(word);
    // A missing value leaves the word as the previous read left it.
    const auto next = [&](const char* name, std::int32_t& field) {
        size = sizeof word;
        store.QueryValue(path.Key(), name, &type, &word, size);
        field = static_cast<std::int32_t>(word);
    };
    next("WinTop", rect.top);
    next("WinRight", rect.right);
    next("WinBottom", rect.bottom);
    return true;
}

void WriteRunOnce(RegistryStore& store, const std::string& location) {
    KeyPath path(store);
    if (!path.Open(kRunOncePath, true)) return;
    store.SetString(path.Key(), "Vantrel", location);
}
