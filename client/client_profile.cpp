#include "client_profile.h"

#include "common/digits.h"
#include "common/tftp_packet.h"

#include <algorithm>

#include <string>

namespace skerry {
namespace {
constexpr char kOptions[] = "Options";
constexpr char kStartup[] = "Startup";
constexpr char kWindowSize[] = "Window Size";
constexpr int kMaxWindowSize = 65535;  // the largest window a server may be asked for
constexpr char kLargestBlockSize[] = "Largest Block Size";

// Absent, not a number or outside 1..65535: the default, as if never set.
int WindowSizeFrom(const std::string& text) {
    const int size = tftp::LeadingDigits(text);
    return size >= 1 && size <= kMaxWindowSize ? size : ClientSettings::kDefaultWindowSize;
}
}  // namespace

int BlockSizeCapFrom(const std::string& text) {
    if (text.empty()) return 0;
    const int size = tftp::LeadingDigits(text);
    if (size == 0) return 0;
    return std::clamp(size, tftp::kMinBlockSize, tftp::kMaxBlockSize);
}

bool IsYes(const std::string& value) {
    return value.size() == 3 && (value[0] == 'Y' || value[0] == 'y') &&
           (value[1] == 'E' || value[1] == 'e') && (value[2] == 'S' || value[2] == 's');
}

const char* YesNo(int on) { return on == 1 ? "Yes" : "No"; }

void LoadSettings(const platform::ProfileFile& profile, ClientSettings& s) {
    s.overwrite = IsYes(profile.GetProfileString(kOptions, "OverWrite")) ? 1 : 0;
    s.truncate = IsYes(profile.GetProfileString(kOptions, "Truncate")) ? 1 : 0;
    s.changeButtons = IsYes(profile.GetProfileString(kOptions, "Change Buttons")) ? 1 : 0;
    s.defaultIp = tftp::LeadingDigits(profile.GetProfileString(kOptions, "Default IP"));
    s.inboundPath = profile.GetProfileString(kOptions, "Inbound");
    s.outboundPath = profile.GetProfileString(kOptions, "Outbound");
    s.windowSize = WindowSizeFrom(profile.GetProfileString(kOptions, kWindowSize));
    s.maxBlockSize = BlockSizeCapFrom(profile.GetProfileString(kOptions, kLargestBlockSize));
    s.host = profile.GetProfileString(kStartup, "Host");
    s.localFile = profile.GetProfileString(kStartup, "Local");
    s.remoteFile = profile.GetProfileString(kStartup, "Remote");
}

void SaveStartup(platform::ProfileFile& profile, const ClientSettings& s) {
    profile.WriteProfileString(kStartup, "Host", s.host);
    profile.WriteProfileString(kStartup, "Local", s.localFile);
    profile.WriteProfileString(kStartup, "Remote", s.remoteFile);
}

void SaveOptions(platform::ProfileFile& profile, const ClientSettings& s) {
    profile.WriteProfileString(kOptions, "Inbound", s.inboundPath);
    profile.WriteProfileString(kOptions, "Outbound", s.outboundPath);
    profile.WriteProfileString(kOptions, "OverWrite", YesNo(s.overwrite));
    profile.WriteProfileString(kOptions, "Truncate", YesNo(s.truncate));
    profile.WriteProfileString(kOptions, "Default IP", std::to_string(s.defaultIp));
    // The default needs no line of its own: a file that never had one keeps
    // none, one that had one gets the value back. Any other window, lock-step
    // (1) included, is written, so that it survives a change of default.
    if (s.windowSize != ClientSettings::kDefaultWindowSize || !profile.GetProfileString(kOptions, kWindowSize).empty())
        profile.WriteProfileString(kOptions, kWindowSize, std::to_string(s.windowSize));
    // No cap, no line (an empty one where the file had one).
    if (s.maxBlockSize != 0 || !profile.GetProfileString(kOptions, kLargestBlockSize).empty())
        profile.WriteProfileString(kOptions, kLargestBlockSize, s.maxBlockSize != 0 ? std::to_string(s.maxBlockSize) : "");
}

void SaveChangeButtons(platform::ProfileFile& profile, const ClientSettings& s) {
    profile.WriteProfileString(kOptions, "Change Buttons", YesNo(s.changeButtons));
}

}  // namespace skerry
