// The client's settings file, Skerry.INI: sections "Options" and "Startup".
//
//   [Options]                      [Startup]
//   OverWrite=Yes|No               Host=<server address>
//   Truncate=Yes|No                Local=<local file name>
//   Change Buttons=Yes|No          Remote=<remote file name>
//   Default IP=<number>
//   Inbound=<folder>/
//   Outbound=<folder>/
//   Window Size=<1..65535>
//   Largest Block Size=<8..65464>
//
// A switch is on only when its value is "Yes" in any case; "Default IP" is
// read as its leading digits. Missing values read as empty (off, 0); a
// missing or out-of-range "Window Size" reads as the default window
// (ClientSettings::kDefaultWindowSize; 1 is lock-step); a missing,
// empty or zero "Largest Block Size" as no cap, one outside 8..65464 as the
// nearest end.
#pragma once

#include "client/engine/client_settings.h"
#include "platform/profile_file.h"

namespace skerry {

void LoadSettings(const platform::ProfileFile& profile, ClientSettings& settings);
// "Startup": Host, Local, Remote.
void SaveStartup(platform::ProfileFile& profile, const ClientSettings& settings);
// "Options" after Setup, in this order: Inbound, Outbound, OverWrite,
// Truncate, Default IP, then Window Size unless it is the default and the
// file has no such line, and Largest Block Size the same way unless it is 0.
void SaveOptions(platform::ProfileFile& profile, const ClientSettings& settings);
void SaveChangeButtons(platform::ProfileFile& profile, const ClientSettings& settings);

// The block-size cap a text gives (as the profile line and the options
// sheet read it): 0 for none.
int BlockSizeCapFrom(const std::string& text);

// "Yes" or "No".
const char* YesNo(int on);
bool IsYes(const std::string& value);

}  // namespace skerry
