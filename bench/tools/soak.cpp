// Load for the soak benchmark: a server kept busy for a long time with every
// kind of client, to see that it gives back all it takes.
//
//   bench_soak --host A.B.C.D --port P --get NAME --big NAME --mode sequential
//              --count N [--first I]
//   bench_soak --host A.B.C.D --port P --get NAME --big NAME --mode silent
//              --count N [--probe-every K] [--hold SECONDS]
//
// sequential: N transfers one after another, in turn a download of NAME, an
// upload, a request in a mode the server refuses, a download of a missing
// file, a download abandoned after its second block and an upload abandoned
// after its first (the abandoned ones simply go quiet, as a killed client
// does). One line per kind: "kind NAME AS-EXPECTED COUNT"; "fail I KIND WHY"
// for each transfer that did not go as expected.
// silent: N read requests of BIG from N sockets that never answer, and a
// download of NAME (the probe) after every K of them and then once a second
// for SECONDS: "probe ok|fail SECONDS", then "silent SENT" and
// "probes ANSWERED TOTAL SLOWEST-SECONDS".
// Every wait is bounded; only the address given is sent to.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
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
constexpr int kBlock = 512;
constexpr int kWaitMs = 3000;   // for one answer
constexpr int kTries = 3;       // sends of one packet before giving up

struct Options {
    std::string host, mode, get, big;
    int port = 0, count = 0, first = 0, probeEvery = 50;
    double hold = 10;
};

// One client socket; the server's transfer port is learned from its first answer.
class Client {
public:
    explicit Client(const sockaddr_in& server) : server_(server) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Ok() const { return fd_ >= 0; }

    // Sends packet (to the transfer port once known) until an answer comes;
    // the answer's length, or -1.
    int Exchange(const std::string& packet) {
        for (int attempt = 0; attempt < kTries; ++attempt) {
            const sockaddr_in& to = known_ ? peer_ : server_;
            sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            const int n = Receive();
            if (n >= 0) return n;
        }
        return -1;
    }
    // Once, with no answer expected (the last ACK).
    void Send(const std::string& packet) {
        const sockaddr_in& to = known_ ? peer_ : server_;
        sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    unsigned Op() const { return (in_[0] << 8) | in_[1]; }
    unsigned Block() const { return (in_[2] << 8) | in_[3]; }

private:
    int Receive() {
        const auto end = Clock::now() + std::chrono::milliseconds(kWaitMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return -1;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, in_, sizeof in_, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 4 || from.sin_addr.s_addr != server_.sin_addr.s_addr) continue;
            if (known_ && from.sin_port != peer_.sin_port) continue;
            peer_ = from;
            known_ = true;
            return static_cast<int>(n);
        }
    }

    int fd_ = -1;
    sockaddr_in server_{}, peer_{};
    bool known_ = false;
    std::uint8_t in_[kBlock + 4] = {};
};

std::string Request(unsigned op, const std::string& name, const std::string& mode) {
    std::string p;
    p += static_cast<char>(0);
    p += static_cast<char>(op);
    p += name;
    p += '\0';
    p += mode;
    p += '\0';
    return p;
}

std::string Packet(unsigned op, unsigned block, const std::string& payload = {}) {
    std::string p;
    p += static_cast<char>(op >> 8);
    p += static_cast<char>(op & 0xFF);
    p += static_cast<char>((block >> 8) & 0xFF);
    p += static_cast<char>(block & 0xFF);
    return p + payload;
}

// A whole download; stopAfter > 0 goes quiet after that many blocks.
// Returns "" when it went as it should, else why not.
std::string Download(const sockaddr_in& server, const std::string& name, int stopAfter = 0) {
    Client c(server);
    if (!c.Ok()) return "no socket";
    int n = c.Exchange(Request(1, name, "octet"));
    for (unsigned block = 1;; ++block) {
        if (n < 0) return "no answer for block " + std::to_string(block);
        if (c.Op() != 3 || c.Block() != (block & 0xFFFF)) return "unexpected packet for block " + std::to_string(block);
        if (stopAfter > 0 && static_cast<int>(block) >= stopAfter) return {};
        if (n < kBlock + 4) {
            c.Send(Packet(4, block));
            break;
        }
        n = c.Exchange(Packet(4, block));
    }
    return {};
}

std::string Upload(const sockaddr_in& server, const std::string& name, int blocks, int stopAfter = 0) {
    Client c(server);
    if (!c.Ok()) return "no socket";
    int n = c.Exchange(Request(2, name, "octet"));
    const std::string full(kBlock, 'u');
    for (int block = 1; block <= blocks + 1; ++block) {
        if (n < 0 || c.Op() != 4 || c.Block() != static_cast<unsigned>(block - 1)) {
            return "no ACK " + std::to_string(block - 1);
        }
        if (stopAfter > 0 && block > stopAfter) return {};
        n = c.Exchange(Packet(3, static_cast<unsigned>(block), block <= blocks ? full : "end"));
    }
    return n >= 0 && c.Op() == 4 ? std::string() : "no last ACK";
}

std::string ExpectError(const sockaddr_in& server, const std::string& request, unsigned code) {
    Client c(server);
    if (!c.Ok()) return "no socket";
    const int n = c.Exchange(request);
    if (n < 0) return "no answer";
    if (c.Op() != 5 || c.Block() != code) return "not ERROR " + std::to_string(code);
    return {};
}

int Sequential(const Options& o, const sockaddr_in& server) {
    const char* kinds[] = {"get", "put", "refused", "missing", "abandoned-get", "abandoned-put"};
    int asExpected[6] = {}, counts[6] = {};
    for (int i = o.first; i < o.first + o.count; ++i) {
        const int k = i % 6;
        std::string why;
        switch (k) {
        case 0: why = Download(server, o.get); break;
        case 1: why = Upload(server, "soak-put-" + std::to_string(i % 4) + ".bin", 8); break;
        case 2: why = ExpectError(server, Request(1, o.get, "mail"), 4); break;
        case 3: why = ExpectError(server, Request(1, "missing-" + std::to_string(i) + ".bin", "octet"), 1); break;
        case 4: why = Download(server, o.big, 2); break;
        case 5: why = Upload(server, "soak-cut-" + std::to_string(i % 4) + ".bin", 8, 1); break;
        }
        ++counts[k];
        if (why.empty()) ++asExpected[k];
        else std::printf("fail %d %s %s\n", i, kinds[k], why.c_str());
    }
    for (int k = 0; k < 6; ++k) std::printf("kind %s %d %d\n", kinds[k], asExpected[k], counts[k]);
    return 0;
}

int Silent(const Options& o, const sockaddr_in& server) {
    // The silent sockets stay open, so the server's retries reach a socket.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> silent;
    int answered = 0, probes = 0;
    double slowest = 0;
    const auto probe = [&] {
        const auto t0 = Clock::now();
        const bool ok = Download(server, o.get).empty();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        ++probes;
        if (ok) ++answered;
        if (s > slowest) slowest = s;
        std::printf("probe %s %.4f\n", ok ? "ok" : "fail", s);
    };
    const std::string request = Request(1, o.big, "octet");
    for (int i = 0; i < o.count; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        silent.push_back(fd);
        sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
        if ((i + 1) % o.probeEvery == 0) probe();
    }
    std::printf("silent %zu\n", silent.size());
    const auto end = Clock::now() + std::chrono::duration<double>(o.hold);
    while (Clock::now() < end) {
        probe();
        usleep(1000 * 1000);
    }
    for (int fd : silent) close(fd);
    std::printf("probes %d %d %.4f\n", answered, probes, slowest);
    return 0;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--host") o.host = v;
        else if (k == "--port") o.port = std::atoi(v.c_str());
        else if (k == "--mode") o.mode = v;
        else if (k == "--get") o.get = v;
        else if (k == "--big") o.big = v;
        else if (k == "--count") o.count = std::atoi(v.c_str());
        else if (k == "--first") o.first = std::atoi(v.c_str());
        else if (k == "--probe-every") o.probeEvery = std::atoi(v.c_str());
        else if (k == "--hold") o.hold = std::atof(v.c_str());
        else return false;
    }
    return argc % 2 == 1 && !o.host.empty() && !o.get.empty() && !o.big.empty() && o.port > 0 &&
           o.port < 65536 && o.count > 0 && o.count <= 5000 && o.probeEvery > 0 && o.hold >= 0 &&
           o.hold <= 300 && (o.mode == "sequential" || o.mode == "silent");
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: bench_soak --host ADDR --port P --get NAME --big NAME "
                             "--mode sequential|silent --count N [--first I] [--probe-every K] [--hold S]\n");
        return 2;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (inet_pton(AF_INET, o.host.c_str(), &server.sin_addr) != 1) {
        std::fprintf(stderr, "bench_soak: bad address %s\n", o.host.c_str());
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return o.mode == "sequential" ? Sequential(o, server) : Silent(o, server);
}
