#include "peer_clients.h"

#include "engine_harness.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // A plain fork and exec rather than QProcess: QProcess starts its child
    // in our memory until the exec, which the race checker's build cannot
    // follow.
    PeerRun run;
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return run;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return run;
    }
    std::vector<std::string> words{command.program};
    words.insert(words.end(), command.args.begin(), command.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until the exec.
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        if (::chdir(workDir.c_str()) != 0) ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    if (pid < 0) {
        ::close(input[1]);
        ::close(output[0]);
        run.output = "could not start " + command.program;
        return run;
    }
    if (!command.input.empty()) {
        [[maybe_unused]] const ssize_t n = ::write(input[1], command.input.data(), command.input.size());
    }
    ::close(input[1]);
    ::fcntl(output[0], F_SETFL, O_NONBLOCK);
    const auto drain = [&] {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(output[0], chunk, sizeof chunk)) > 0) run.output.append(chunk, static_cast<std::size_t>(n));
    };
    int status = 0;
    bool reaped = false;
    run.finished = WaitFor(
        [&] {
            drain();
            if (!reaped) reaped = ::waitpid(pid, &status, WNOHANG) == pid;
            return reaped;
        },
        timeoutMs);
    if (!reaped) {
        ::kill(pid, SIGKILL);  // our own child, by its pid
        ::waitpid(pid, &status, 0);
    }
    drain();
    ::close(output[0]);
    run.exitCode = reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace tests
