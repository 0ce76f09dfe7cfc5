// skerry --get and --put: one transfer from the command line, through the
// same engine as the window, with no window at all (no display is needed).
//
//   skerry --get HOST[:PORT] REMOTE [LOCAL]
//   skerry --put HOST[:PORT] LOCAL [REMOTE]
//   options: --blksize N, --windowsize N, --timeout S, --netascii
//
// Exit status 0 only when the whole file has been delivered (a fetch:
// written and under its name), 1 when the transfer failed, 2 for a usage
// error. A failed fetch leaves no new file, and an existing one untouched.
#pragma once

#include "client/engine/client_settings.h"
#include "common/local_address.h"
#include "platform/clock.h"

#include <QStringList>

#include <string>

struct CommandTransfer {
    bool fetch = true;         // --get; false: --put
    std::string host;          // as typed, without brackets or port
    int port = 69;
    std::string remote;
    std::string local;         // a path as typed (relative to the current folder)
    int blockSize = 512;
    int windowSize = 1;
    int timeoutSecs = 10;
    bool netascii = false;
};

// True when the arguments ask for a command-line transfer (--get or --put
// among them): the program then opens no window.
bool WantsCommandTransfer(int argc, char** argv);

// "name", "name:69", "192.0.2.1:6969", "[2001:db8::1]:6969", "[::1]" or
// "::1" (more than one colon and no brackets: an IPv6 address, no port).
// False for an empty host or a port that is not 1 to 65535.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

// Reads the arguments (the program's name first). -1: transfer filled in;
// 0: --help or --version printed; 2: a usage error, printed with the usage.
int ReadCommandTransfer(const QStringList& arguments, CommandTransfer& transfer);

// Runs the transfer on the running application's event loop; base holds the
// user's settings (its local address choice). Returns the exit status.
int RunCommandTransfer(const CommandTransfer& transfer, const ClientSettings& base, platform::Clock& clock,
                       tftp::AddressProvider& addresses);
