// A UDP relay between a TFTP client and a server that impairs chosen
// datagrams: drops, duplicates, holds back (reorders) or delays them, by rule
// ("the 3rd ACK toward the server") or at random from a seed. A constant
// latency can stand for a real link's round trip: every datagram it forwards
// then leaves that long after it arrived, in order.
//
// It mirrors transfer IDs as a real network shows them to both sides. The
// front socket stands for the server's listening port. Each client
// address:port gets a back socket of its own that talks to the server as that
// client. When the server answers from a new port T, the relay opens another
// front socket for (client, T) and forwards to the client from it, so the
// client sees one distinct port per server port, and its datagrams to that
// port go on to T.
//
// Everything runs on the creating thread's Qt event loop (the sockets'
// notifications and the timers of held datagrams): tests run it in process.
#pragma once

#include "platform/peer_address.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

class QObject;
class QSocketNotifier;
class QTimer;

namespace tests {

class RelaySocket;

enum class Toward { Server, Client };

// Which datagrams a rule takes. Matching datagrams are counted per rule and
// direction from 1; the rule takes matches nth .. nth + count - 1.
struct Match {
    Toward toward = Toward::Server;
    std::optional<std::uint16_t> opcode;  // only datagrams with this opcode count
    std::optional<std::uint16_t> block;   // and this second field (block number, error code)
    int nth = 1;
    int count = 1;
};

// Reorder holds a datagram until the next one in the same direction has been
// forwarded (at most 50 ms); Delay forwards it after delayMs.
enum class Fate { Forward, Drop, Duplicate, Reorder, Delay };

struct Rule {
    Match match;
    Fate fate = Fate::Forward;
    int delayMs = 0;
};

// Probabilities (0..1) for every datagram not taken by a rule, both
// directions; one draw per datagram from std::mt19937 seeded with seed.
struct RandomImpairment {
    double loss = 0, duplicate = 0, reorder = 0;
    std::uint32_t seed = 1;
};

class ImpairmentRelay {
public:
    static constexpr int kReceiveBuffer = 4 * 1024 * 1024;

    // Binds the front socket on frontAddress:frontPort (0: the system's
    // choice); the relay's other sockets use frontAddress with system ports.
    // Every socket asks for a receive buffer of kReceiveBuffer bytes, so a
    // window of blocks sent back to back is not lost inside the relay.
    ImpairmentRelay(const std::string& frontAddress, const platform::PeerAddress& server,
                    std::uint16_t frontPort = 0);
    ~ImpairmentRelay();
    ImpairmentRelay(const ImpairmentRelay&) = delete;
    ImpairmentRelay& operator=(const ImpairmentRelay&) = delete;

    bool ok() const;                      // the front socket is bound
    platform::PeerAddress Front() const;  // where a client sends its request

    // Rules are tried in the order added; the first that takes a datagram
    // decides its fate, before any random impairment.
    void AddRule(const Rule& rule);
    void SetRandom(const RandomImpairment& random);
    // Every datagram sent on (after its fate: a duplicate twice) leaves
    // oneWay after the relay read it, in the order read, both directions, to
    // the microsecond (a timerfd, not a millisecond timer). 0: at once.
    // False when the system gives no timer.
    bool SetLatency(std::chrono::microseconds oneWay);
    // Sends every reordered and delayed datagram still waiting, now: a test
    // need not wait for the relay's timers.
    void ReleaseHeld();
    int Waiting() const;  // datagrams reordered, delayed or in the latency line, not yet sent

    // The log of every datagram costs memory on long runs; counts stay.
    void KeepLog(bool keep) { keepLog_ = keep; }

    struct Seen {
        Toward toward;
        std::uint16_t opcode, block;  // 0 where the datagram is too short
        int length;
        Fate fate;
        // A request's or an OACK's strings after the opcode, NULs as spaces
        // ("f.bin octet blksize 8", "blksize 8 windowsize 4"); else empty.
        std::string text;
    };
    // Every datagram that reached the relay, in order of arrival.
    const std::vector<Seen>& Log() const { return log_; }
    // The text of the first datagram of that opcode in the log ("" if none).
    std::string FirstText(std::uint16_t opcode) const;

    // Datagrams that arrived from the sending side (before impairment).
    int Count(Toward toward, std::optional<std::uint16_t> opcode = {}) const;
    // DATA payload bytes that arrived heading that way: what the sender sent.
    std::int64_t DataBytes(Toward toward) const;
    int Dropped(Toward toward) const { return Side(toward).dropped; }
    int Duplicated(Toward toward) const { return Side(toward).duplicated; }
    int Reordered(Toward toward) const { return Side(toward).reordered; }
    int Delayed(Toward toward) const { return Side(toward).delayed; }
    // Client addresses:ports seen so far (one back socket each).
    int Clients() const { return static_cast<int>(sessions_.size()); }

private:
    struct Outgoing {
        std::shared_ptr<RelaySocket> via;
        platform::PeerAddress to;
        std::vector<unsigned char> bytes;
    };
    struct Direction {
        std::map<std::uint16_t, int> byOpcode;
        int total = 0;
        std::int64_t dataBytes = 0;
        int dropped = 0, duplicated = 0, reordered = 0, delayed = 0;
        std::vector<Outgoing> held;  // reordered, waiting for the next datagram
        QTimer* heldTimer = nullptr;
    };
    struct Postponed {
        Outgoing out;
        QTimer* timer;
    };
    struct Session {
        platform::PeerAddress client;
        std::shared_ptr<RelaySocket> back;
        std::map<std::uint16_t, std::shared_ptr<RelaySocket>> fronts;  // server port -> socket
    };

    const Direction& Side(Toward t) const { return t == Toward::Server ? toServer_ : toClient_; }
    Direction& Side(Toward t) { return t == Toward::Server ? toServer_ : toClient_; }

    void FromClient(const platform::PeerAddress& client, std::optional<std::uint16_t> serverPort,
                    std::vector<unsigned char> bytes);
    void FromServer(Session& session, const platform::PeerAddress& from, std::vector<unsigned char> bytes);
    Session* SessionFor(const platform::PeerAddress& client);
    std::shared_ptr<RelaySocket> NewSocket(std::uint16_t port);
    Fate Decide(Toward toward, std::uint16_t opcode, std::uint16_t block, int& delayMs);
    void Handle(Toward toward, Outgoing out);
    void Send(const Outgoing& out);
    void FlushHeld(Toward toward);
    void SendDelayed(QTimer* timer);
    void Transmit(const Outgoing& out);
    void ArmLatencyTimer();
    void SendDue();

    std::string address_;
    platform::PeerAddress server_;
    std::unique_ptr<QObject> context_;  // owns the timers; pending ones die with it
    std::shared_ptr<RelaySocket> front_;
    std::map<platform::PeerAddress, std::unique_ptr<Session>> sessions_;
    std::vector<Rule> rules_;
    std::vector<int> ruleMatches_;
    std::optional<RandomImpairment> random_;
    std::mt19937 rng_;
    Direction toServer_, toClient_;
    std::list<Postponed> delayed_;
    std::chrono::microseconds latency_{0};
    std::deque<std::pair<std::chrono::steady_clock::time_point, Outgoing>> line_;
    int latencyFd_ = -1;
    std::unique_ptr<QSocketNotifier> latencyNotifier_;
    std::vector<Seen> log_;
    bool keepLog_ = true;
};

}  // namespace tests
