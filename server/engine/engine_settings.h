// The settings the listener and the transfers go by: the port, the address
// choice, who may be served, the client limit, the time-out, the folders and
// the options a client may have. The server's full settings extend these;
// the engine reads them (and puts a time-out it cannot use back to "1").
// The short Hungarian names double as the names of the stored values.
#pragma once

#include "common/address_pattern.h"
#include "common/name_rules.h"

#include <array>
#include <string>
#include <vector>

struct EngineSettings {
    static constexpr int kListSlots = 10;

    std::string Port = "69";
    std::string Timeout = "30";
    int bShowMultihomed = 1;
    int nDefAddress = 255;  // 1-based; 0 none remembered; 255 never chosen
    int nMaxClients = 0;    // slider position 0..5: 1, 5, 10, 15, 30, no limit
    std::string InPath;
    std::string OutPath;
    std::string ForceFile;
    int bForce = 0;
    int bAllow = 0;
    std::array<std::string, kListSlots> Allow;  // slots 1..10 at 0..9
    int bDeny = 0;
    std::array<std::string, kListSlots> Deny;
    int bAllowTimeout = 1;
    int bAllowTsize = 1;
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

    // Name rewriting rules, applied in order to every requested name before
    // the folder's own handling (common/name_rules.h). Stored as "nRemap"
    // and numbered "RemapPattern1", "RemapReplace1", "bRemapStop1"...;
    // none: names are served as asked.
    static constexpr int kMaxNameRules = 32;
    std::vector<tftp::NameRule> NameRules;
    // Transfer ports and the block-size cap, values of their own (0: unset).
    // Each transfer's socket takes a free port of nPortRangeLow..
    // nPortRangeHigh (both 0: the system's choice; a request finding none
    // free is refused as for the client limit). A blksize above nMaxBlksize
    // (8..65464) is answered with nMaxBlksize.
    int nPortRangeLow = 0;
    int nPortRangeHigh = 0;
    int nMaxBlksize = 0;

    // True when the address text matches a pattern of the list, tried in
    // slot order (see MatchesAddressPattern in common/address_pattern.h).
    bool MatchesAllowList(const std::string& address) const;
    bool MatchesDenyList(const std::string& address) const;
};
