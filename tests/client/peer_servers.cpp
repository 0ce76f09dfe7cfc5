#include "peer_servers.h"

#include "tests/client/client_test_support.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tests {

PeerServer::PeerServer(std::string name, const std::string& program,
                       const std::vector<std::string>& args, int port)
    : name_(std::move(name)) {
    QStringList list;
    for (const std::string& a : args) list << QString::fromStdString(a);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QString::fromStdString(program), list);
    process_.waitForStarted(10000);
    WaitFor([&] { return UdpPortBound(port) || process_.state() == QProcess::NotRunning; }, 10000);
}

PeerServer::~PeerServer() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();  // SIGTERM to this process only, by its pid
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

bool PeerServer::Running() const { return process_.state() == QProcess::Running; }

std::string PeerServer::Output() {
    output_ += process_.readAll().toStdString();
    return output_;
}

std::unique_ptr<PeerServer> PeerServer::TftpdHpa(const std::string& root, int port,
                                                 const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"-L", "-4", "-a", "127.0.0.1:" + std::to_string(port), "-s",
                                     "-c", "-B", "65464", "-u", "nobody", "-U", "000"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(root);
    auto server = std::unique_ptr<PeerServer>(
        new PeerServer("tftpd-hpa", TftpdHpaPath(), args, port));
    return server->Running() ? std::move(server) : nullptr;
}

namespace {

// A server unpacked by scripts/setup.sh --test into the checkout's .peers.
std::string UnpackedPeer(const char* override, const std::string& inPeers) {
    if (const char* env = std::getenv(override); env && *env) return env;
    const char* source = std::getenv("TFTP_SOURCE_DIR");
    return std::string(source ? source : ".") + "/.peers/" + inPeers;
}

}  // namespace

std::string PeerServer::TftpdHpaPath() { return UnpackedPeer("TFTP_IN_TFTPD", "tftpd-hpa/usr/sbin/in.tftpd"); }

std::string PeerServer::AtftpdPath() { return UnpackedPeer("TFTP_ATFTPD", "atftpd/usr/sbin/atftpd"); }

std::unique_ptr<PeerServer> PeerServer::Atftpd(const std::string& root, int port) {
    const std::string program = AtftpdPath();
    if (::access(program.c_str(), X_OK) != 0) return nullptr;
    std::vector<std::string> args = {"--daemon", "--no-fork", "--bind-address", "127.0.0.1",
                                     "--port", std::to_string(port), "--user", "nobody",
                                     "--group", "nogroup", "--logfile", "-", "--verbose=7", "--trace",
                                     "-m", "300", root};
    auto server = std::unique_ptr<PeerServer>(new PeerServer("atftpd", program, args, port));
    return server->Running() ? std::move(server) : nullptr;
}

void OpenToEveryone(const std::string& folder) { ::chmod(folder.c_str(), 0777); }

bool UdpPortBound(int port) {
    std::ifstream udp("/proc/net/udp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X ", port);
    while (std::getline(udp, line))
        if (line.find(wanted) != std::string::npos) return true;
    return false;
}

}  // namespace tests
