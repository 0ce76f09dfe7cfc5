// Clients for the server program's tests: the real TFTP clients run as child
// processes while the test's event loop keeps the server going, and a raw
// client that sends what the test tells it to (for transfers that must stay
// running).
#pragma once

#include "platform/async_udp_socket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tests {

struct ProgramRun {
    bool finished = false;  // ended by itself in time
    int exitCode = -1;
    std::string output;
};

// Runs program to its end (killed after timeoutMs) with the event loop running.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs = 60000);

// tftp-hpa fetching or sending one file in octet mode.
ProgramRun TftpGet(const std::string& host, int port, const std::string& remote, const std::string& local);
ProgramRun TftpPut(const std::string& host, int port, const std::string& local, const std::string& remote);

class RawClient : public platform::AsyncUdpSocket {
public:
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        platform::PeerAddress from;
        std::uint16_t Opcode() const { return bytes.size() >= 2 ? (bytes[0] << 8 | bytes[1]) : 0; }
        std::uint16_t Block() const { return bytes.size() >= 4 ? (bytes[2] << 8 | bytes[3]) : 0; }
    };

    // Binds 127.0.0.1 on a port of the system's choice.
    bool Open();
    // A read (1) or write (2) request for file in octet mode.
    void Request(int opcode, const std::string& file, std::uint16_t port, const std::string& host = "127.0.0.1");
    void Ack(std::uint16_t block, const platform::PeerAddress& to);
    void Data(std::uint16_t block, const std::string& bytes, const platform::PeerAddress& to);
    // Waits (running events) for the count-th datagram.
    bool WaitFor(std::size_t count, int timeoutMs = 20000);

    std::vector<Datagram> received;

protected:
    void OnReceive(int error) override;
};

}  // namespace tests
