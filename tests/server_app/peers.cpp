#include "peers.h"

#include "tests/support/event_loop.h"

#include <QProcess>
#include <QStringList>

namespace tests {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs) {
    ProgramRun run;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList list;
    for (const std::string& a : args) list << QString::fromStdString(a);
    process.start(QString::fromStdString(program), list);
    if (!process.waitForStarted(10000)) {
        run.output = "could not start " + program;
        return run;
    }
    process.closeWriteChannel();
    run.finished = RunUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAll().toStdString();
    return run;
}

ProgramRun TftpGet(const std::string& host, int port, const std::string& remote, const std::string& local) {
    return RunProgram("tftp", {"-m", "binary", host, std::to_string(port), "-c", "get", remote, local});
}

ProgramRun TftpPut(const std::string& host, int port, const std::string& local, const std::string& remote) {
    return RunProgram("tftp", {"-m", "binary", host, std::to_string(port), "-c", "put", local, remote});
}

bool RawClient::Open() { return Create("127.0.0.1", 0, true); }

void RawClient::Request(int opcode, const std::string& file, std::uint16_t port, const std::string& host) {
    std::string packet;
    packet += '\0';
    packet += static_cast<char>(opcode);
    packet += file;
    packet += '\0';
    packet += "octet";
    packet += '\0';
    SendTo(packet.data(), static_cast<int>(packet.size()), host, port);
}

void RawClient::Ack(std::uint16_t block, const platform::PeerAddress& to) {
    const std::uint8_t packet[4] = {0, 4, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
    SendTo(packet, 4, to);
}

void RawClient::Data(std::uint16_t block, const std::string& bytes, const platform::PeerAddress& to) {
    std::string packet = {0, 3, static_cast<char>(block >> 8), static_cast<char>(block & 0xFF)};
    packet += bytes;
    SendTo(packet.data(), static_cast<int>(packet.size()), to);
}

bool RawClient::WaitFor(std::size_t count, int timeoutMs) {
    return RunUntil([&] { return received.size() >= count; }, timeoutMs);
}

void RawClient::OnReceive(int) {
    std::uint8_t buffer[65536];
    platform::PeerAddress from;
    const int n = ReceiveFrom(buffer, sizeof buffer, from);
    if (n < 0) return;
    received.push_back(Datagram{std::vector<std::uint8_t>(buffer, buffer + n), from});
}

}  // namespace tests
