// The client's settings as the application holds them in memory; the
// profile file's "Startup" and "Options" sections mirror them.
#pragma once

#include <string>

struct ClientSettings {
    // Blocks per ACK asked for when the user has set none: well above
    // lock-step once the round trip is more than a fraction of a millisecond,
    // and a window of the largest block size in the window's list (12250)
    // still fits a peer's default receive buffer; 16 does not (see
    // bench/results/round-trips.md).
    static constexpr int kDefaultWindowSize = 8;

    std::string remoteFile;    // Startup / Remote
    std::string localFile;     // Startup / Local
    std::string host;          // Startup / Host
    int defaultIp = 0;         // Options / Default IP: 1-based; 0 = ask
    std::string inboundPath;   // Options / Inbound: fetched files go here
    std::string outboundPath;  // Options / Outbound: files to send come from here
    int overwrite = 0;         // Options / OverWrite
    int truncate = 0;          // Options / Truncate
    int changeButtons = 0;     // Options / Change Buttons
    int windowSize = kDefaultWindowSize;  // Options / Window Size: blocks per ACK asked for; 1 = lock-step
    int maxBlockSize = 0;      // Options / Largest Block Size: no blksize offered above it; 0 = no cap
};
