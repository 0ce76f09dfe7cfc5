// The real TFTP clients of the interop tests, run as child processes while
// the test's event loop keeps serving: tftp-hpa `tftp`, `atftp`, `curl` and
// busybox `tftp`. Each knows what it can ask for.
#pragma once

#include <string>
#include <vector>

namespace tests {

enum class Peer { TftpHpa, Atftp, Curl, Busybox };
enum class Direction { Download, Upload };

const char* PeerName(Peer peer);

struct PeerRun {
    bool finished = false;  // ended by itself within the time allowed
    int exitCode = -1;
    std::string output;     // stdout and stderr together
};

struct PeerTransfer {
    Peer peer = Peer::TftpHpa;
    Direction direction = Direction::Download;
    bool netascii = false;
    int blockSize = 512;   // asked for when not 512 (and by atftp always)
    bool askTsize = false;     // atftp: offer tsize 0 (curl and busybox always do)
    int askTimeout = 0;        // atftp: offer a timeout
    bool trace = false;        // atftp: print every packet (the OACK's options)
    std::string remote;        // name on the server
    std::string local;         // local path
};

// Whether the client can do it at all (tftp-hpa 5.2 sends no options,
// busybox has no netascii).
bool PeerCan(const PeerTransfer& t);

// The program and arguments, and what goes to its standard input.
struct PeerCommand {
    std::string program;
    std::vector<std::string> args;
    std::string input;
};
PeerCommand CommandFor(const PeerTransfer& t, const std::string& host, int port);

// Runs a command to its end (or kills it after timeoutMs), keeping the event
// loop of this thread running meanwhile.
PeerRun RunPeer(const PeerCommand& command, const std::string& workDir, int timeoutMs);

}  // namespace tests
