// Real TFTP servers for interop tests, started by hand on a high port of
// 127.0.0.1 (inside the test's own network namespace) and ended by their pid.
#pragma once

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

namespace tests {

class PeerServer {
public:
    ~PeerServer();
    // tftpd-hpa (in.tftpd from the checkout's .peers folder, or $TFTP_IN_TFTPD)
    // serving root on port; extra: e.g. {"-r", "tsize"}.
    static std::unique_ptr<PeerServer> TftpdHpa(const std::string& root, int port,
                                                const std::vector<std::string>& extra = {});
    // atftpd from the checkout's .peers folder (or $TFTP_ATFTPD), logging
    // to its output; null when it is not there.
    static std::unique_ptr<PeerServer> Atftpd(const std::string& root, int port);
    static std::string AtftpdPath();
    static std::string TftpdHpaPath();

    bool Running() const;
    // What the server has written so far (its log, for atftpd).
    std::string Output();
    const std::string& Name() const { return name_; }

private:
    PeerServer(std::string name, const std::string& program, const std::vector<std::string>& args,
               int port);
    std::string name_;
    std::string output_;
    QProcess process_;
};

// Makes a folder the servers (running as nobody) may read and write.
void OpenToEveryone(const std::string& folder);
// Whether something listens on UDP 127.0.0.1:port in this namespace.
bool UdpPortBound(int port);

}  // namespace tests
