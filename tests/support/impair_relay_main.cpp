// impair_relay: the impairment relay in front of a real TFTP server, for the
// benchmark's loss section and for trying a peer by hand.
//
//   impair_relay --listen ADDR[:PORT] --server ADDR:PORT [--loss P] [--duplicate P]
//                [--reorder P] [--seed N] [--stats FILE] [--delay-us N]
//
// P is a fraction (0.02) or a percentage with a trailing % (2%), applied to
// each direction. --delay-us holds every datagram N microseconds in each
// direction: a round trip of 2 N plus the loopback's own. Prints "ready PORT" once bound; on SIGTERM, SIGINT or SIGHUP
// writes its counts to FILE as JSON and exits 0.
#include "platform/termination_signals.h"
#include "tests/support/impairment_relay.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

struct Options {
    std::string listen, stats;
    std::uint16_t listenPort = 0;
    platform::PeerAddress server;
    tests::RandomImpairment random;
    long delayUs = 0;
};

std::optional<double> Probability(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) return std::nullopt;
    if (*end == '%') {
        value /= 100.0;
        ++end;
    }
    if (*end != '\0' || value < 0.0 || value > 1.0) return std::nullopt;
    return value;
}

// ADDR or ADDR:PORT; the port is required when requirePort.
bool AddressAndPort(const std::string& text, std::string& address, std::uint16_t& port, bool requirePort) {
    const auto colon = text.find(':');
    address = text.substr(0, colon);
    if (platform::InetAddr(address) == platform::kInaddrNone) return false;
    if (colon == std::string::npos) return !requirePort;
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || value < (requirePort ? 1 : 0) || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool Parse(int argc, char** argv, Options& o) {
    bool haveServer = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--listen") {
            if (!AddressAndPort(value, o.listen, o.listenPort, false)) return false;
        } else if (key == "--server") {
            std::string address;
            if (!AddressAndPort(value, address, o.server.port, true)) return false;
            o.server.address = platform::InetAddr(address);
            haveServer = true;
        } else if (key == "--loss" || key == "--duplicate" || key == "--reorder") {
            const auto p = Probability(value);
            if (!p) return false;
            (key == "--loss" ? o.random.loss : key == "--duplicate" ? o.random.duplicate : o.random.reorder) = *p;
        } else if (key == "--seed") {
            o.random.seed = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "--delay-us") {
            char* end = nullptr;
            o.delayUs = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || o.delayUs < 0 || o.delayUs > 10000000) return false;
        } else if (key == "--stats") {
            o.stats = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !o.listen.empty() && haveServer &&
           o.random.loss + o.random.duplicate + o.random.reorder <= 1.0;
}

void WriteStats(const tests::ImpairmentRelay& relay, const std::string& path) {
    std::ofstream out(path);
    out << "{";
    const char* separator = "";
    for (const auto toward : {tests::Toward::Server, tests::Toward::Client}) {
        out << separator << "\n \"" << (toward == tests::Toward::Server ? "toward_server" : "toward_client")
            << "\": {\"datagrams\": " << relay.Count(toward) << ", \"data_datagrams\": " << relay.Count(toward, 3)
            << ", \"data_bytes\": " << relay.DataBytes(toward) << ", \"dropped\": " << relay.Dropped(toward)
            << ", \"duplicated\": " << relay.Duplicated(toward) << ", \"reordered\": " << relay.Reordered(toward)
            << "}";
        separator = ",";
    }
    out << ",\n \"clients\": " << relay.Clients() << "\n}\n";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: impair_relay --listen ADDR[:PORT] --server ADDR:PORT [--loss P] [--duplicate P]\n"
                     "                    [--reorder P] [--seed N] [--stats FILE] [--delay-us N]\n"
                     "P: a fraction (0.02) or a percentage (2%%), each direction; their sum at most 1\n"
                     "N: microseconds every datagram is held, each direction (0 to 10000000)\n");
        return 2;
    }
    tests::ImpairmentRelay relay(o.listen, o.server, o.listenPort);
    if (!relay.ok()) {
        std::fprintf(stderr, "impair_relay: cannot bind %s:%u\n", o.listen.c_str(), unsigned{o.listenPort});
        return 1;
    }
    relay.KeepLog(false);
    relay.SetRandom(o.random);
    if (!relay.SetLatency(std::chrono::microseconds{o.delayUs})) {
        std::fprintf(stderr, "impair_relay: no timer for --delay-us\n");
        return 1;
    }
    platform::TerminationSignals termination([&](int) {
        if (!o.stats.empty()) WriteStats(relay, o.stats);
        QCoreApplication::exit(0);
    });
    if (!termination.Installed()) {
        std::fprintf(stderr, "impair_relay: cannot catch termination signals\n");
        return 1;
    }
    std::printf("ready %u\n", unsigned{relay.Front().port});
    std::fflush(stdout);
    return QCoreApplication::exec();
}
