#include "peer_clients.h"

#include "engine_harness.h"

#include <QProcess>
#include <QStringList>

namespace tests {

const char* PeerName(Peer peer) {
    switch (peer) {
    case Peer::TftpHpa: return "tftp-hpa";
    case Peer::Atftp: return "atftp";
    case Peer::Curl: return "curl";
    case Peer::Busybox: return "busybox";
    }
    return "?";
}

bool PeerCan(const PeerTransfer& t) {
    switch (t.peer) {
    case Peer::TftpHpa: return t.blockSize == 512 && !t.askTsize && t.askTimeout == 0;
    case Peer::Busybox: return !t.netascii;
    case Peer::Atftp:
    case Peer::Curl: return true;
    }
    return false;
}

PeerCommand CommandFor(const PeerTransfer& t, const std::string& host, int port) {
    const bool get = t.direction == Direction::Download;
    const std::string portText = std::to_string(port);
    PeerCommand c;
    switch (t.peer) {
    case Peer::TftpHpa:
        c.program = "tftp";
        c.args = {"-4", "-m", t.netascii ? "netascii" : "octet", host, portText, "-c",
                  get ? "get" : "put"};
        if (get) c.args.insert(c.args.end(), {t.remote, t.local});
        else c.args.insert(c.args.end(), {t.local, t.remote});
        break;
    case Peer::Atftp: {
        c.program = "atftp";
        std::vector<std::string> options;
        if (t.askTsize) options.push_back("tsize 0");
        if (t.askTimeout) options.push_back("timeout " + std::to_string(t.askTimeout));
        if (t.blockSize != 512) options.push_back("blksize " + std::to_string(t.blockSize));
        if (t.netascii) {
            // The mode is only settable at its prompt.
            if (t.trace) c.args.push_back("--trace");
            c.args.insert(c.args.end(), {host, portText});
            c.input = "mode netascii\n";
            for (const auto& o : options) c.input += "option " + o + "\n";
            c.input += get ? "get " + t.remote + " " + t.local + "\n"
                           : "put " + t.local + " " + t.remote + "\n";
            c.input += "quit\n";
        } else {
            if (t.trace) c.args.push_back("--trace");
            for (const auto& o : options) c.args.insert(c.args.end(), {"--option", o});
            c.args.insert(c.args.end(), {get ? "-g" : "-p", "-r", t.remote, "-l", t.local, host, portText});
        }
        break;
    }
    case Peer::Curl: {
        c.program = "curl";
        c.args = {"-sS", "--max-time", "120"};
        if (t.blockSize != 512) c.args.insert(c.args.end(), {"--tftp-blksize", std::to_string(t.blockSize)});
        std::string url = "tftp://" + host + ":" + portText + "/" + t.remote;
        if (t.netascii) url += ";mode=netascii";
        c.args.insert(c.args.end(), {get ? "-o" : "-T", t.local, url});
        break;
    }
    case Peer::Busybox:
        c.program = "busybox";
        c.args = {"tftp"};
        if (t.blockSize != 512) c.args.insert(c.args.end(), {"-b", std::to_string(t.blockSize)});
        c.args.insert(c.args.end(), {get ? "-g" : "-p", "-r", t.remote, "-l", t.local, host, portText});
        break;
    }
    return c;
}

PeerRun RunPeer(const PeerCommand& command, const std::string& workDir, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(QString::fromStdString(workDir));
    QStringList args;
    for (const auto& a : command.args) args << QString::fromStdString(a);
    process.start(QString::fromStdString(command.program), args);
    PeerRun run;
    if (!process.waitForStarted(10000)) {
        run.output = "could not start " + command.program;
        return run;
    }
    if (!command.input.empty()) process.write(command.input.data(), static_cast<qint64>(command.input.size()));
    process.closeWriteChannel();
    run.finished = WaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!run.finished) {
        process.kill();  // our own child, by its pid
        process.waitForFinished(5000);
    }
    run.output = process.readAll().toStdString();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

}  // namespace tests
