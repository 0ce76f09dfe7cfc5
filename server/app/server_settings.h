// Every setting of the server, held by the application object, loaded at
// start and saved at the end. The short Hungarian names double as the names
// of the stored values.
#pragma once

#include "common/address_pattern.h"

#include <array>
#include <string>

struct ServerSettings {
    static constexpr int kListSlots = 10;
    // Every text value passes through a 100-byte buffer: at most 99 characters.
    static constexpr std::size_t kMaxText = 99;

    int bRaisePriority = 0;
    std::string Location;
    int bNoSplash = 0;
    int bAllowTimeout = 1;
    int bAllowTsize = 1;
    int bAlertMinimised = 1;
    int bUseGraphic = 0;
    int bMinimiseAtStart = 0;
    int bShowMultihomed = 1;
    int nDefAddress = 255;  // 1-based; 0 none remembered; 255 never chosen
    int nMaxClients = 0;    // slider position 0..5: 1, 5, 10, 15, 30, no limit
    int nMaxDisplay = 6;    // slider position 0..6: 5, 10, 20, 30, 40, 50, 100 rows
    int nPriority = 4;      // 0 low, 1 normal, 2 high, 3 automatic, 4 none chosen
    std::string LogFile = "Orvane.log";
    std::string InPath;
    std::string OutPath;
    std::string Port = "69";
    std::string Timeout = "30";
    std::string ForceFile;
    int bForce = 0;
    int bAllow = 0;
    std::array<std::string, kListSlots> Allow;  // slots 1..10 at 0..9
    int bDeny = 0;
    std::array<std::string, kListSlots> Deny;
    int bDisplay = 1;
    // The windowsize option: answered when on, with the client's window
    // capped at the maximum (1..65535 blocks). Stored as values of their own.
    int bAllowWindowsize = 1;
    int nMaxWindowsize = 64;
    static constexpr int kWindowsizeLimit = 65535;  // the largest window a client may ask for
    static constexpr int kDefaultMaxWindowsize = 64;
    // Listen on every local address (IPv4 and IPv6), each transfer answering
    // from the address its request was sent to; 0: on the one address the
    // address selection chooses (nDefAddress, bShowMultihomed).
    int bListenAll = 1;
    // Uploads: refused outright (ERROR 2), or refused for a name that exists
    // (ERROR 6). Both off: every upload is taken, replacing a file of its name.
    int bRefuseUploads = 0;
    int bNoReplace = 0;

    // True when the address text matches a pattern of the list, tried in
    // slot order (see MatchesAddressPattern).
    bool MatchesAllowList(const std::string& address) const;
    bool MatchesDenyList(const std::string& address) const;
};
