// The server's host as the user gives it (the window's Host field, or the
// command line's HOST): the engine's StartSend and StartFetch take this same
// text, so whatever this accepts the engine can send to.
#pragma once

#include "platform/peer_address.h"

#include <string>

inline bool IsUsableServerHost(const std::string& hostText) {
    const std::uint32_t address = platform::InetAddr(hostText);
    return address != platform::kInaddrNone && address != 0;
}
