// How much a busy window costs a transfer: the server engine serves one
// large download (and one upload) while its main thread, the one the window
// runs on, is held busy for a while in the middle, against the same transfer
// undisturbed. The transfers' own threads carry them, so the two should be
// about equally fast. With --peer the client is a real one (curl or
// tftp-hpa's tftp) started as a child; it must finish, not time out.
//
//   bench_busy_window [--size-mib N] [--busy-ms MS] [--runs N] [--peer curl|tftp]
//
// Prints one line per run and the ratio of the medians; exit status 1 when a
// transfer failed or a file differs.
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/scripted_prompt_service.h"
#include "server/engine/listen_socket.h"
#include "server/engine/server_context.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBlock = 1428;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::uint16_t U16(const char* p) { return static_cast<std::uint16_t>((std::uint8_t(p[0]) << 8) | std::uint8_t(p[1])); }
void Put16(std::string& s, unsigned v) {
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
    s.push_back(static_cast<char>(v & 0xFF));
}

// A lock-step client with blksize 1428 on a blocking socket of its own
// thread. bytes counts what has gone through, for the busy window's start.
class Client {
public:
    Client() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        timeval tv{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Client() { ::close(fd_); }

    bool Get(int port, const std::string& name, std::string& data, std::atomic<long>& bytes) {
        if (!Ask(port, 1, name)) return false;
        // The OACK came first: ACK 0 asks for DATA 1.
        std::string in;
        if (!Exchange(Ack(0), in, 3, 1)) return false;
        unsigned expected = 1;
        for (;;) {
            if (in.size() >= 4 && U16(in.data()) == 3 && U16(in.data() + 2) == (expected & 0xFFFF)) {
                data.append(in, 4);
                bytes += static_cast<long>(in.size() - 4);
                const bool last = in.size() < 4 + kBlock;
                const std::string ack = Ack(expected);
                if (last) {
                    Send(ack);
                    return true;
                }
                ++expected;
                if (!Exchange(ack, in, 3, expected & 0xFFFF)) return false;
            } else if (!Receive(in)) {
                return false;
            }
        }
    }

    bool Put(int port, const std::string& name, const std::string& data, std::atomic<long>& bytes) {
        if (!Ask(port, 2, name)) return false;
        for (std::size_t off = 0, block = 1;; off += kBlock, ++block) {
            const std::size_t n = std::min<std::size_t>(kBlock, data.size() - std::min(off, data.size()));
            std::string packet;
            Put16(packet, 3);
            Put16(packet, static_cast<unsigned>(block & 0xFFFF));
            packet.append(data, std::min(off, data.size()), n);
            std::string in;
            if (!Exchange(packet, in, 4, block & 0xFFFF)) return false;
            bytes += static_cast<long>(n);
            if (n < kBlock) return true;
        }
    }

private:
    static std::string Ack(unsigned block) {
        std::string s;
        Put16(s, 4);
        Put16(s, block & 0xFFFF);
        return s;
    }
    bool Ask(int port, unsigned opcode, const std::string& name) {
        std::string r;
        Put16(r, opcode);
        for (const std::string& part : {name, std::string("octet"), std::string("blksize"), std::to_string(kBlock)}) {
            r += part;
            r.push_back('\0');
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        std::string in;
        socklen_t len = sizeof peer_;
        char buf[2048];
        const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer_), &len);
        return n >= 2 && U16(buf) == 6;
    }
    void Send(const std::string& s) {
        ::sendto(fd_, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&peer_), sizeof peer_);
    }
    bool Receive(std::string& out) {
        char buf[2048];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0) return false;
        out.assign(buf, static_cast<std::size_t>(n));
        return true;
    }
    // Sends out and waits for the answer of opcode and block; sends again
    // on each second of silence (the server resends too), five times.
    bool Exchange(const std::string& out, std::string& in, unsigned opcode, unsigned block) {
        for (int tries = 0; tries < 6; ++tries) {
            Send(out);
            for (;;) {
                if (!Receive(in)) break;
                if (in.size() >= 4 && U16(in.data()) == opcode && U16(in.data() + 2) == block) return true;
                if (in.size() >= 2 && U16(in.data()) == 5) return false;
            }
        }
        return false;
    }
    int fd_ = -1;
    sockaddr_in peer_{};
};

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the event loop until done() (polled every millisecond); once bytes
// reaches busyAt, the main thread sleeps busyMs in one piece.
void Serve(const std::function<bool()>& done, const std::function<long()>& bytes, long busyAt, int busyMs,
           Clock::time_point& busyEnd) {
    QTimer poll;
    bool held = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            QCoreApplication::exit(0);
            return;
        }
        if (busyMs > 0 && !held && bytes() >= busyAt) {
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMs));
            busyEnd = Clock::now();
        }
    });
    poll.start(1);
    QCoreApplication::exec();
}

struct Run {
    bool ok = false;
    double seconds = 0;
    bool windowInside = false;  // the busy window ended before the transfer
};

}  // namespace

int main(int argc, char** argv) {
    int sizeMib = 48, busyMs = 2000, runs = 3;
    std::string peer;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        if (k == "--size-mib" && i + 1 < argc) sizeMib = std::atoi(argv[++i]);
        else if (k == "--busy-ms" && i + 1 < argc) busyMs = std::atoi(argv[++i]);
        else if (k == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (k == "--peer" && i + 1 < argc) peer = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_busy_window [--size-mib N] [--busy-ms MS] [--runs N] [--peer curl|tftp]\n");
            return 2;
        }
    }
    if (!peer.empty() && peer != "curl" && peer != "tftp") {
        std::fprintf(stderr, "--peer: curl or tftp\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string folder = base + "/busy-window-XXXXXX";
    if (!::mkdtemp(folder.data())) return 1;
    folder += "/";
    const std::size_t size = static_cast<std::size_t>(sizeMib) * 1024 * 1024 + 777;
    const std::string content = Pattern(size);
    std::ofstream(folder + "big.bin", std::ios::binary).write(content.data(), static_cast<std::streamsize>(size));

    EngineSettings settings;
    settings.InPath = settings.OutPath = folder;
    settings.nMaxClients = 5;  // no limit
    platform::AsyncUdpSocket probe;
    probe.Create("127.0.0.1", 0, false);
    const int port = probe.LocalPort();
    probe.Close();
    settings.Port = std::to_string(port);
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::FixedAddressProvider addresses("bench", {"127.0.0.1"});
    ServerContext context(settings, clock, prompts, addresses);
    context.bIdleCheck = 0;
    CListenSocket listener(context);
    if (!listener.StartListening()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1.%d\n", port);
        return 1;
    }
    // What the program's main thread does besides: the periodic check and
    // the resend pass of its idle processing (both stop while it is busy).
    QTimer sweep, resend;
    QObject::connect(&sweep, &QTimer::timeout, [&] { listener.SweepTransfers(); });
    QObject::connect(&resend, &QTimer::timeout, [&] {
        if (listener.TransferCount() > 0) listener.ResendSilent();
    });
    sweep.start(5000);
    resend.start(5);

    const auto once = [&](bool upload, bool busy, int run) {
        Run r;
        const std::string name = upload ? "up" + std::to_string(run) + ".bin" : "big.bin";
        std::atomic<long> bytes{0};
        std::atomic<bool> done{false};
        Clock::time_point busyEnd{};
        const auto start = Clock::now();
        Clock::time_point end{};
        pid_t child = -1;
        std::thread client;
        const std::string out = folder + "got" + std::to_string(run) + ".bin";
        if (peer.empty()) {
            client = std::thread([&] {
                Client c;
                std::string got;
                r.ok = upload ? c.Put(port, name, content, bytes) : c.Get(port, name, got, bytes) && got == content;
                end = Clock::now();
                done = true;
            });
        } else {
            std::vector<std::string> words;
            const std::string url = "tftp://127.0.0.1:" + std::to_string(port) + "/" + name;
            if (peer == "curl") {
                words = {"curl", "-sS", "--max-time", "120", "--tftp-blksize", std::to_string(kBlock)};
                if (upload) words.insert(words.end(), {"-T", folder + "big.bin", url});
                else words.insert(words.end(), {"-o", out, url});
            } else {
                words = {"tftp", "-m", "binary", "127.0.0.1", std::to_string(port), "-c", upload ? "put" : "get",
                         upload ? folder + "big.bin" : name, upload ? name : out};
            }
            std::vector<char*> argv2;
            for (auto& w : words) argv2.push_back(w.data());
            argv2.push_back(nullptr);
            child = ::fork();
            if (child == 0) {
                ::execvp(argv2[0], argv2.data());
                ::_exit(127);
            }
        }
        // The end is taken where it happens, not when the (maybe busy) main
        // thread next looks.
        int status = -1;
        if (!peer.empty()) {
            client = std::thread([&] {
                if (child > 0) ::waitpid(child, &status, 0);
                end = Clock::now();
                done = true;
            });
        }
        const auto finished = [&] { return done.load(); };
        // A peer's progress is not seen from here: its window starts a
        // quarter of an undisturbed run in (an estimate from the size).
        const auto seen = [&]() -> long {
            if (peer.empty()) return bytes.load();
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() >= 500
                       ? static_cast<long>(size)
                       : 0;
        };
        Serve(finished, seen, static_cast<long>(size / 4), busy ? busyMs : 0, busyEnd);
        if (client.joinable()) client.join();
        if (!peer.empty()) {
            r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                   ReadAll(upload ? folder + name : out) == content;
        }
        if (upload && peer.empty()) r.ok = r.ok && ReadAll(folder + name) == content;
        r.seconds = Seconds(end - start);
        r.windowInside = busy && busyEnd.time_since_epoch().count() != 0 && busyEnd < end;
        std::filesystem::remove(out);
        if (upload) std::filesystem::remove(folder + name);
        return r;
    };

    bool allOk = true;
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("busy window: %d ms on the main thread; file %.1f MiB; client %s; %d runs each\n", busyMs, mib,
                peer.empty() ? "own lock-step (blksize 1428)" : peer.c_str(), runs);
    for (const bool upload : {false, true}) {
        std::vector<double> quiet, held;
        for (int run = 0; run < runs; ++run) {
            for (const bool busy : {false, true}) {
                const Run r = once(upload, busy, run);
                const double rate = mib / r.seconds;
                std::printf("  %-8s %-11s run %d: %s %6.2f s %7.1f MiB/s%s\n", upload ? "upload" : "download",
                            busy ? "busy" : "undisturbed", run + 1, r.ok ? "ok  " : "FAIL", r.seconds, rate,
                            busy ? (r.windowInside ? "  (window inside the transfer)" : "  (window NOT inside)") : "");
                std::fflush(stdout);
                allOk = allOk && r.ok && (!busy || r.windowInside);
                (busy ? held : quiet).push_back(rate);
            }
        }
        std::sort(quiet.begin(), quiet.end());
        std::sort(held.begin(), held.end());
        const double q = quiet[quiet.size() / 2], b = held[held.size() / 2];
        std::printf("  %-8s median: undisturbed %.1f MiB/s, busy %.1f MiB/s, ratio %.3f\n", upload ? "upload" : "download",
                    q, b, b / q);
    }
    std::filesystem::remove_all(folder);
    return allOk ? 0 : 1;
}
