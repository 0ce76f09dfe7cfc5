#include "tests/support/impairment_relay.h"

#include "platform/async_udp_socket.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <utility>

namespace tests {

using platform::PeerAddress;

namespace {

// A reordered datagram waits at most this long for a successor.
constexpr int kReorderHoldMs = 50;
constexpr int kMaxDatagram = 65536;
constexpr std::uint16_t kRrq = 1, kWrq = 2, kData = 3, kOack = 6;

std::uint16_t Field(const std::vector<unsigned char>& b, std::size_t at) {
    return b.size() >= at + 2 ? static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]) : 0;
}

// The NUL-ended strings of a request or an OACK, joined by spaces.
std::string Strings(const std::vector<unsigned char>& b) {
    std::string text;
    for (std::size_t i = 2; i < b.size(); ++i) text += b[i] == 0 ? ' ' : static_cast<char>(b[i]);
    if (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

// A bound socket that hands every datagram it takes to a callback.
class RelaySocket : public platform::AsyncUdpSocket {
public:
    using Handler = std::function<void(const PeerAddress&, std::vector<unsigned char>)>;
    Handler handler;

protected:
    void OnReceive(int) override {
        std::vector<unsigned char> buffer(kMaxDatagram);
        for (;;) {
            PeerAddress from;
            const int n = ReceiveFrom(buffer.data(), kMaxDatagram, from);
            if (n == kWouldBlock) return;
            if (n < 0) continue;  // too long: gone
            if (handler) handler(from, std::vector<unsigned char>(buffer.begin(), buffer.begin() + n));
        }
    }
};

ImpairmentRelay::ImpairmentRelay(const std::string& frontAddress, const PeerAddress& server,
                                 std::uint16_t frontPort)
    : address_(frontAddress), server_(server), context_(std::make_unique<QObject>()) {
    for (Direction* d : {&toServer_, &toClient_}) {
        d->heldTimer = new QTimer(context_.get());
        d->heldTimer->setSingleShot(true);
        const Toward t = d == &toServer_ ? Toward::Server : Toward::Client;
        QObject::connect(d->heldTimer, &QTimer::timeout, context_.get(), [this, t] { FlushHeld(t); });
    }
    front_ = NewSocket(frontPort);
    if (front_)
        front_->handler = [this](const PeerAddress& from, std::vector<unsigned char> bytes) {
            FromClient(from, std::nullopt, std::move(bytes));
        };
}

ImpairmentRelay::~ImpairmentRelay() {
    // Timers first: nothing held or delayed is sent while the sockets go.
    context_.reset();
    latencyNotifier_.reset();
    if (latencyFd_ >= 0) ::close(latencyFd_);
}

bool ImpairmentRelay::SetLatency(std::chrono::microseconds oneWay) {
    if (oneWay.count() > 0 && latencyFd_ < 0) {
        latencyFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (latencyFd_ < 0) return false;
        latencyNotifier_ = std::make_unique<QSocketNotifier>(latencyFd_, QSocketNotifier::Read);
        QObject::connect(latencyNotifier_.get(), &QSocketNotifier::activated, context_.get(), [this] {
            std::uint64_t expirations = 0;
            while (::read(latencyFd_, &expirations, sizeof expirations) > 0) {
            }
            SendDue();
        });
    }
    latency_ = oneWay.count() > 0 ? oneWay : std::chrono::microseconds{0};
    if (latency_.count() == 0) SendDue();
    return true;
}

bool ImpairmentRelay::ok() const { return front_ != nullptr; }

PeerAddress ImpairmentRelay::Front() const {
    return PeerAddress{platform::InetAddr(address_), front_ ? front_->LocalPort() : std::uint16_t{0}};
}

void ImpairmentRelay::AddRule(const Rule& rule) {
    rules_.push_back(rule);
    ruleMatches_.push_back(0);
}

void ImpairmentRelay::SetRandom(const RandomImpairment& random) {
    random_ = random;
    rng_.seed(random.seed);
}

int ImpairmentRelay::Count(Toward toward, std::optional<std::uint16_t> opcode) const {
    const Direction& d = Side(toward);
    if (!opcode) return d.total;
    const auto it = d.byOpcode.find(*opcode);
    return it == d.byOpcode.end() ? 0 : it->second;
}

std::int64_t ImpairmentRelay::DataBytes(Toward toward) const { return Side(toward).dataBytes; }

std::string ImpairmentRelay::FirstText(std::uint16_t opcode) const {
    for (const Seen& d : log_)
        if (d.opcode == opcode) return d.text;
    return {};
}

std::shared_ptr<RelaySocket> ImpairmentRelay::NewSocket(std::uint16_t port) {
    auto socket = std::make_shared<RelaySocket>();
    if (!socket->Create(address_, port, true)) return nullptr;
    socket->SetReceiveBufferSize(kReceiveBuffer);  // the system may grant less
    return socket;
}

ImpairmentRelay::Session* ImpairmentRelay::SessionFor(const PeerAddress& client) {
    auto& slot = sessions_[client];
    if (slot) return slot.get();
    auto back = NewSocket(0);
    if (!back) {
        sessions_.erase(client);
        return nullptr;
    }
    slot = std::make_unique<Session>();
    slot->client = client;
    slot->back = back;
    Session* session = slot.get();
    back->handler = [this, session](const PeerAddress& from, std::vector<unsigned char> bytes) {
        FromServer(*session, from, std::move(bytes));
    };
    return session;
}

// serverPort: the server port whose mirror socket the datagram arrived on;
// none for the front socket (the server's listening port).
void ImpairmentRelay::FromClient(const PeerAddress& client, std::optional<std::uint16_t> serverPort,
                                 std::vector<unsigned char> bytes) {
    Session* session = SessionFor(client);
    if (!session) return;
    PeerAddress to = server_;
    if (serverPort) to.port = *serverPort;
    Handle(Toward::Server, Outgoing{session->back, to, std::move(bytes)});
}

void ImpairmentRelay::FromServer(Session& session, const PeerAddress& from, std::vector<unsigned char> bytes) {
    if (!from.SameHost(server_)) return;  // not the server: a real client would not hear it
    std::shared_ptr<RelaySocket> via = front_;
    if (from.port != server_.port) {
        auto& mirror = session.fronts[from.port];
        if (!mirror) {
            mirror = NewSocket(0);
            if (!mirror) {
                session.fronts.erase(from.port);
                return;
            }
            const PeerAddress client = session.client;
            const std::uint16_t port = from.port;
            mirror->handler = [this, client, port](const PeerAddress& sender, std::vector<unsigned char> b) {
                // Only the client this mirror stands in for reaches that server port.
                if (sender == client) FromClient(sender, port, std::move(b));
            };
        }
        via = mirror;
    }
    Handle(Toward::Client, Outgoing{via, session.client, std::move(bytes)});
}

Fate ImpairmentRelay::Decide(Toward toward, std::uint16_t opcode, std::uint16_t block, int& delayMs) {
    std::optional<Fate> fate;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const Match& m = rules_[i].match;
        if (m.toward != toward || (m.opcode && *m.opcode != opcode) || (m.block && *m.block != block)) continue;
        const int k = ++ruleMatches_[i];
        if (!fate && k >= m.nth && k < m.nth + m.count) {
            fate = rules_[i].fate;
            delayMs = rules_[i].delayMs;
        }
    }
    if (fate) return *fate;
    if (!random_) return Fate::Forward;
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if (u < random_->loss) return Fate::Drop;
    if (u < random_->loss + random_->duplicate) return Fate::Duplicate;
    if (u < random_->loss + random_->duplicate + random_->reorder) return Fate::Reorder;
    return Fate::Forward;
}

void ImpairmentRelay::Handle(Toward toward, Outgoing out) {
    Direction& d = Side(toward);
    const std::uint16_t opcode = Field(out.bytes, 0);
    const std::uint16_t block = Field(out.bytes, 2);
    const int length = static_cast<int>(out.bytes.size());
    ++d.total;
    ++d.byOpcode[opcode];
    if (opcode == kData && length >= 4) d.dataBytes += length - 4;
    int delayMs = 0;
    const Fate fate = Decide(toward, opcode, block, delayMs);
    if (keepLog_) {
        const bool strings = opcode == kRrq || opcode == kWrq || opcode == kOack;
        log_.push_back(Seen{toward, opcode, block, length, fate, strings ? Strings(out.bytes) : std::string()});
    }
    switch (fate) {
    case Fate::Forward:
        Send(out);
        break;
    case Fate::Drop:
        ++d.dropped;
        break;
    case Fate::Duplicate:
        ++d.duplicated;
        Send(out);
        Send(out);
        break;
    case Fate::Reorder:
        // Waits for its successor; earlier held ones still wait with it.
        ++d.reordered;
        d.held.push_back(std::move(out));
        if (!d.heldTimer->isActive()) d.heldTimer->start(kReorderHoldMs);
        return;
    case Fate::Delay: {
        ++d.delayed;
        auto* timer = new QTimer(context_.get());
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, context_.get(), [this, timer] { SendDelayed(timer); });
        delayed_.push_back(Postponed{out, timer});
        timer->start(delayMs);
        break;
    }
    }
    FlushHeld(toward);
}

void ImpairmentRelay::Send(const Outgoing& out) {
    if (latency_.count() == 0 && line_.empty()) {
        Transmit(out);
        return;
    }
    line_.emplace_back(std::chrono::steady_clock::now() + latency_, out);
    if (line_.size() == 1) ArmLatencyTimer();
}

// steady_clock is CLOCK_MONOTONIC here, so its time points arm the timerfd
// directly (an absolute time: a late wake-up does not push the rest back).
void ImpairmentRelay::ArmLatencyTimer() {
    if (line_.empty() || latencyFd_ < 0) return;
    const auto due = std::chrono::duration_cast<std::chrono::nanoseconds>(line_.front().first.time_since_epoch());
    itimerspec when;
    std::memset(&when, 0, sizeof when);
    when.it_value.tv_sec = static_cast<time_t>(due.count() / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(due.count() % 1000000000);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;  // 0 would disarm
    ::timerfd_settime(latencyFd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void ImpairmentRelay::SendDue() {
    const auto now = std::chrono::steady_clock::now();
    while (!line_.empty() && (latency_.count() == 0 || line_.front().first <= now)) {
        const Outgoing out = std::move(line_.front().second);
        line_.pop_front();
        Transmit(out);
    }
    ArmLatencyTimer();
}

void ImpairmentRelay::Transmit(const Outgoing& out) {
    if (out.via && out.via->IsOpen())
        out.via->SendTo(out.bytes.data(), static_cast<int>(out.bytes.size()), out.to);
}

void ImpairmentRelay::SendDelayed(QTimer* timer) {
    for (auto it = delayed_.begin(); it != delayed_.end(); ++it) {
        if (it->timer != timer) continue;
        const Outgoing out = std::move(it->out);
        delayed_.erase(it);
        timer->deleteLater();
        Send(out);
        return;
    }
}

void ImpairmentRelay::ReleaseHeld() {
    FlushHeld(Toward::Server);
    FlushHeld(Toward::Client);
    std::list<Postponed> due;
    due.swap(delayed_);
    for (Postponed& d : due) {
        delete d.timer;
        Send(d.out);
    }
    while (!line_.empty()) {
        const Outgoing out = std::move(line_.front().second);
        line_.pop_front();
        Transmit(out);
    }
}

int ImpairmentRelay::Waiting() const {
    return static_cast<int>(toServer_.held.size() + toClient_.held.size() + delayed_.size() + line_.size());
}

void ImpairmentRelay::FlushHeld(Toward toward) {
    Direction& d = Side(toward);
    d.heldTimer->stop();
    std::vector<Outgoing> held;
    held.swap(d.held);
    for (const Outgoing& out : held) Send(out);
}

}  // namespace tests
