// Many TFTP downloads at once from one process: every read request goes out
// in one burst, then a single epoll loop serves all transfers. One process
// keeps the client's own cost small and equal for every server measured, and
// times each transfer exactly.
//
//   bench_multiget --host A.B.C.D --port P --file NAME --count N
//                  --blksize B --out DIR [--deadline SECONDS]
//
// Transfer i is stored as DIR/get-<i>.bin. Output, one line per transfer and a
// summary: "xfer I ok|fail SECONDS BYTES [reason]", "total SECONDS OK FAILED".
// Exit status 0 only when every transfer completed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxBlock = 65464;
constexpr double kRetrySeconds = 1.0;
constexpr int kMaxRetries = 5;

struct Transfer {
    int sock = -1;
    int file = -1;
    sockaddr_in peer{};        // the server's transfer port once known
    bool peerKnown = false;
    int blksize = 512;
    std::uint64_t expected = 1;  // next DATA block, as a 64-bit count
    std::vector<std::uint8_t> last;  // last packet sent (request or ACK)
    Clock::time_point start, lastHeard, end;
    int retries = 0;
    long long bytes = 0;
    enum { kRunning, kDone, kFailed } state = kRunning;
    std::string reason;
};

struct Options {
    std::string host, file, out;
    int port = 69, count = 1, blksize = 512;
    double deadline = 120;
};

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x & 0xFF));
}

void PutText(std::vector<std::uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    v.push_back(0);
}

void SendLast(Transfer& t, const sockaddr_in& to) {
    sendto(t.sock, t.last.data(), t.last.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void Ack(Transfer& t, unsigned block) {
    t.last.clear();
    Put16(t.last, 4);
    Put16(t.last, block & 0xFFFF);
    SendLast(t, t.peer);
}

void Finish(Transfer& t, bool ok, const std::string& reason = {}) {
    t.state = ok ? Transfer::kDone : Transfer::kFailed;
    t.reason = reason;
    t.end = Clock::now();
    if (t.file >= 0) close(t.file);
    t.file = -1;
}

// Reads the blksize of an OACK; options are NUL-terminated name/value pairs.
int OackBlockSize(const std::uint8_t* p, int n, int current) {
    int i = 2;
    while (i < n) {
        const char* name = reinterpret_cast<const char*>(p + i);
        int nl = static_cast<int>(strnlen(name, static_cast<size_t>(n - i)));
        int vi = i + nl + 1;
        if (vi >= n) break;
        const char* value = reinterpret_cast<const char*>(p + vi);
        int vl = static_cast<int>(strnlen(value, static_cast<size_t>(n - vi)));
        if (strncasecmp(name, "blksize", 8) == 0 && nl == 7) current = std::atoi(std::string(value, static_cast<size_t>(vl)).c_str());
        i = vi + vl + 1;
    }
    return current;
}

void OnDatagram(Transfer& t, const std::uint8_t* p, int n, const sockaddr_in& from) {
    if (n < 4) return;
    if (!t.peerKnown) {
        t.peer = from;
        t.peerKnown = true;
    } else if (from.sin_port != t.peer.sin_port || from.sin_addr.s_addr != t.peer.sin_addr.s_addr) {
        return;  // a stray sender; not our server's transfer port
    }
    t.lastHeard = Clock::now();
    t.retries = 0;
    unsigned op = (p[0] << 8) | p[1];
    unsigned block = (p[2] << 8) | p[3];
    if (op == 5) {
        Finish(t, false, "server error " + std::to_string(block) + ": " +
                             std::string(reinterpret_cast<const char*>(p + 4), strnlen(reinterpret_cast<const char*>(p + 4), static_cast<size_t>(n - 4))));
    } else if (op == 6 && t.expected == 1) {
        int b = OackBlockSize(p, n, t.blksize);
        if (b < 8 || b > kMaxBlock) return Finish(t, false, "bad blksize in OACK");
        t.blksize = b;
        Ack(t, 0);
    } else if (op == 3) {
        int payload = n - 4;
        if (block == (t.expected & 0xFFFF)) {
            if (payload > t.blksize) return Finish(t, false, "DATA longer than the block size");
            if (write(t.file, p + 4, static_cast<size_t>(payload)) != payload) return Finish(t, false, "local write failed");
            t.bytes += payload;
            Ack(t, block);
            ++t.expected;
            if (payload < t.blksize) Finish(t, true);
        } else if (block == ((t.expected - 1) & 0xFFFF)) {
            Ack(t, block);  // our ACK was lost or late: repeat it
        }
    }
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--host") o.host = v;
        else if (k == "--port") o.port = std::atoi(v.c_str());
        else if (k == "--file") o.file = v;
        else if (k == "--count") o.count = std::atoi(v.c_str());
        else if (k == "--blksize") o.blksize = std::atoi(v.c_str());
        else if (k == "--out") o.out = v;
        else if (k == "--deadline") o.deadline = std::atof(v.c_str());
        else return false;
    }
    return argc % 2 == 1 && !o.host.empty() && !o.file.empty() && !o.out.empty() && o.count > 0 &&
           o.count <= 1000 && o.blksize >= 8 && o.blksize <= kMaxBlock && o.port > 0 && o.port < 65536;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_multiget --host ADDR --port P --file NAME --count N --blksize B --out DIR "
                     "[--deadline S]\n");
        return 2;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (inet_pton(AF_INET, o.host.c_str(), &server.sin_addr) != 1) {
        std::fprintf(stderr, "bench_multiget: bad address %s\n", o.host.c_str());
        return 2;
    }
    int ep = epoll_create1(0);
    std::vector<Transfer> xs(static_cast<size_t>(o.count));
    for (size_t i = 0; i < xs.size(); ++i) {
        Transfer& t = xs[i];
        t.sock = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = server.sin_addr;
        std::string path = o.out + "/get-" + std::to_string(i) + ".bin";
        t.file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (t.sock < 0 || t.file < 0 || bind(t.sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::perror("bench_multiget: socket or file");
            return 1;
        }
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(ep, EPOLL_CTL_ADD, t.sock, &ev);
        Put16(t.last, 1);
        PutText(t.last, o.file);
        PutText(t.last, "octet");
        if (o.blksize != 512) {
            PutText(t.last, "blksize");
            PutText(t.last, std::to_string(o.blksize));
        }
    }
    // Every request in one burst: the transfers start together.
    auto begin = Clock::now();
    for (Transfer& t : xs) {
        t.start = t.lastHeard = Clock::now();
        SendLast(t, server);
    }

    std::vector<std::uint8_t> buf(kMaxBlock + 64);
    std::vector<epoll_event> events(64);
    size_t running = xs.size();
    while (running > 0) {
        auto now = Clock::now();
        if (std::chrono::duration<double>(now - begin).count() > o.deadline) {
            for (Transfer& t : xs)
                if (t.state == Transfer::kRunning) Finish(t, false, "deadline passed");
            break;
        }
        int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
        for (int e = 0; e < n; ++e) {
            Transfer& t = xs[events[e].data.u64];
            for (int burst = 0; burst < 8 && t.state == Transfer::kRunning; ++burst) {
                sockaddr_in from{};
                socklen_t fl = sizeof from;
                ssize_t len = recvfrom(t.sock, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fl);
                if (len < 0) break;
                OnDatagram(t, buf.data(), static_cast<int>(len), from);
            }
        }
        now = Clock::now();
        running = 0;
        for (Transfer& t : xs) {
            if (t.state != Transfer::kRunning) continue;
            if (std::chrono::duration<double>(now - t.lastHeard).count() > kRetrySeconds * (t.retries + 1)) {
                if (++t.retries > kMaxRetries) {
                    Finish(t, false, "timed out");
                    continue;
                }
                SendLast(t, t.peerKnown ? t.peer : server);
            }
            ++running;
        }
    }
    int ok = 0, failed = 0;
    double total = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
        Transfer& t = xs[i];
        double secs = std::chrono::duration<double>(t.end - t.start).count();
        double since = std::chrono::duration<double>(t.end - begin).count();
        if (since > total) total = since;
        (t.state == Transfer::kDone ? ok : failed)++;
        std::printf("xfer %zu %s %.6f %lld %s\n", i, t.state == Transfer::kDone ? "ok" : "fail", secs, t.bytes,
                    t.reason.c_str());
        close(t.sock);
    }
    std::printf("total %.6f %d %d\n", total, ok, failed);
    close(ep);
    return failed == 0 ? 0 : 1;
}
