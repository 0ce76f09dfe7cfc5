// UDP ping-pong between two processes: the loopback round trip for each
// datagram size, which bounds any lock-step transfer (one block per round
// trip): limit = block size / round trip.
//
//   bench_pingpong [--host A.B.C.D] [--seconds S] SIZE...
//
// Prints one line per size: "rtt SIZE MICROSECONDS BATCHES". The value is the
// median of several timed batches; every exchange is checked for its length.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBatches = 7;
constexpr int kMaxSize = 65507;

int OpenBound(const char* host, sockaddr_in& bound) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    int big = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    timeval tv{2, 0};  // a lost datagram must not hang the benchmark
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    if (inet_pton(AF_INET, host, &a.sin_addr) != 1 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    return fd;
}

// The echo side: returns every datagram to its sender until a 1-byte one.
[[noreturn]] void Echo(int fd) {
    std::vector<char> buf(kMaxSize);
    timeval none{0, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    for (;;) {
        sockaddr_in from{};
        socklen_t fl = sizeof from;
        ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fl);
        if (n < 0) continue;
        if (n == 1) _exit(0);
        sendto(fd, buf.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), fl);
    }
}

// One exchange; false when the reply was lost or had the wrong length.
bool RoundTrip(int fd, const std::vector<char>& out, std::vector<char>& in) {
    if (send(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) return false;
    ssize_t n = recv(fd, in.data(), in.size(), 0);
    return n == static_cast<ssize_t>(out.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    double seconds = 1.0;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--host" && i + 1 < argc) host = argv[++i];
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (std::atoi(a.c_str()) > 1 && std::atoi(a.c_str()) <= kMaxSize) sizes.push_back(std::atoi(a.c_str()));
        else {
            std::fprintf(stderr, "usage: bench_pingpong [--host ADDR] [--seconds S] SIZE...\n");
            return 2;
        }
    }
    if (sizes.empty() || seconds <= 0) {
        std::fprintf(stderr, "usage: bench_pingpong [--host ADDR] [--seconds S] SIZE...\n");
        return 2;
    }

    sockaddr_in echoAddr{}, pingAddr{};
    int echoFd = OpenBound(host.c_str(), echoAddr);
    int pingFd = OpenBound(host.c_str(), pingAddr);
    if (echoFd < 0 || pingFd < 0) {
        std::perror("bench_pingpong: socket");
        return 1;
    }
    pid_t child = fork();
    if (child < 0) {
        std::perror("bench_pingpong: fork");
        return 1;
    }
    if (child == 0) {
        close(pingFd);
        Echo(echoFd);
    }
    close(echoFd);
    if (connect(pingFd, reinterpret_cast<sockaddr*>(&echoAddr), sizeof echoAddr) != 0) {
        std::perror("bench_pingpong: connect");
        kill(child, SIGKILL);
        return 1;
    }

    int status = 0;
    std::vector<char> in(kMaxSize);
    for (int size : sizes) {
        std::vector<char> out(static_cast<size_t>(size));
        for (size_t k = 0; k < out.size(); ++k) out[k] = static_cast<char>(k * 31 + 7);
        // Warm up and find how many exchanges fill one batch.
        auto start = Clock::now();
        long warm = 0, lost = 0;
        while (Clock::now() - start < std::chrono::duration<double>(seconds / (kBatches + 1))) {
            if (!RoundTrip(pingFd, out, in)) ++lost;
            ++warm;
        }
        long perBatch = std::max(50L, warm);
        std::vector<double> us;
        for (int b = 0; b < kBatches && lost < 100; ++b) {
            auto t0 = Clock::now();
            for (long k = 0; k < perBatch; ++k)
                if (!RoundTrip(pingFd, out, in)) ++lost;
            std::chrono::duration<double, std::micro> d = Clock::now() - t0;
            us.push_back(d.count() / perBatch);
        }
        if (lost >= 100 || us.empty()) {
            std::fprintf(stderr, "bench_pingpong: too many lost exchanges at %d bytes\n", size);
            status = 1;
            break;
        }
        std::sort(us.begin(), us.end());
        std::printf("rtt %d %.2f %zu\n", size, us[us.size() / 2], us.size());
        std::fflush(stdout);
    }
    char stop = 0;
    send(pingFd, &stop, 1, 0);
    int ws = 0;
    for (int k = 0; k < 200 && waitpid(child, &ws, WNOHANG) == 0; ++k) usleep(10000);
    if (waitpid(child, &ws, WNOHANG) == 0) {  // the stop datagram was lost
        kill(child, SIGKILL);
        waitpid(child, &ws, 0);
    }
    close(pingFd);
    return status;
}
