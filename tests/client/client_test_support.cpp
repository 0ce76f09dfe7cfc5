#include "client_test_support.h"

#include "common/tftp_packet.h"
#include "tests/support/event_loop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <dirent.h>
#include <memory>
#include <unistd.h>

namespace tests {

FakePeer::FakePeer(const std::string& address, std::uint16_t port) {
    socket_.Create(address, port, false);
}

platform::PeerAddress FakePeer::Address() const {
    return platform::PeerAddress{platform::InetAddr("127.0.0.1"), Port()};
}

bool FakePeer::Receive(Bytes& datagram, platform::PeerAddress& from, int timeoutMs) {
    datagram.assign(70000, 0);
    int n = platform::AsyncUdpSocket::kWouldBlock;
    RunUntil([&] {
        n = socket_.ReceiveFrom(datagram.data(), static_cast<int>(datagram.size()), from);
        return n >= 0;
    }, timeoutMs);
    if (n < 0) {
        datagram.clear();
        return false;
    }
    datagram.resize(static_cast<std::size_t>(n));
    last_ = from;
    return true;
}

bool FakePeer::Receive(Bytes& datagram, int timeoutMs) {
    platform::PeerAddress from;
    return Receive(datagram, from, timeoutMs);
}

bool FakePeer::Silent(int ms) {
    Bytes d;
    return !Receive(d, ms);
}

void FakePeer::Send(const Bytes& datagram, const platform::PeerAddress& to) {
    socket_.SendTo(datagram.data(), static_cast<int>(datagram.size()), to);
}

Bytes Data(std::uint16_t block, const std::string& payload) {
    Bytes p(4 + payload.size());
    tftp::PutDataHeader(p.data(), block);
    std::copy(payload.begin(), payload.end(), p.begin() + 4);
    return p;
}

Bytes Ack(std::uint16_t block) {
    Bytes p(4);
    tftp::BuildAck(p.data(), p.size(), block);
    return p;
}

Bytes Error(std::uint16_t code, const std::string& text) {
    Bytes p(text.size() + 5);
    tftp::BuildError(p.data(), p.size(), code, text);
    return p;
}

Bytes Oack(const std::vector<std::pair<std::string, std::string>>& options) {
    Bytes p{0, tftp::kOack};
    for (const auto& [name, value] : options) {
        p.insert(p.end(), name.begin(), name.end());
        p.push_back(0);
        p.insert(p.end(), value.begin(), value.end());
        p.push_back(0);
    }
    return p;
}

Bytes OptionFailure() {
    Bytes p(64);
    p.resize(tftp::BuildOptionFailure(p.data(), p.size()));
    return p;
}

std::uint16_t Opcode(const Bytes& p) { return p.size() >= 2 ? tftp::GetU16(p.data()) : 0; }
std::uint16_t Block(const Bytes& p) { return p.size() >= 4 ? tftp::GetU16(p.data() + 2) : 0; }
std::string ErrorTextOf(const Bytes& p) { return tftp::ReadErrorText(p.data(), p.size()); }
std::string Payload(const Bytes& p) {
    return p.size() > 4 ? std::string(p.begin() + 4, p.end()) : std::string();
}
std::string AsText(const Bytes& p) { return std::string(p.begin(), p.end()); }

SentRequest ParseSentRequest(const Bytes& p) {
    SentRequest r;
    r.opcode = Opcode(p);
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = 2; i < p.size(); ++i) {
        if (p[i] == 0) {
            fields.push_back(field);
            field.clear();
        } else {
            field += static_cast<char>(p[i]);
        }
    }
    if (!fields.empty()) r.name = fields[0];
    if (fields.size() > 1) r.mode = fields[1];
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) r.options.emplace_back(fields[i], fields[i + 1]);
    return r;
}

MessageLog::MessageLog()
    : owner_([this](int m, std::int64_t w, std::int64_t l) { messages.push_back({m, w, l}); }) {}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    // A slow wake-up bounds each wait without ending the program's idleness
    // too often (its idle processing needs 64 quiet calls in a row).
    QTimer wake;
    wake.start(250);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::shared_ptr<bool> OnNextModal(std::function<void(QWidget*)> act, int timeoutMs) {
    auto seen = std::make_shared<bool>(false);
    auto timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, seen, waited, timeoutMs] {
        *waited += 20;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            *seen = true;
            timer->stop();
            timer->deleteLater();
            act(modal);
        } else if (*waited > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
    return seen;
}

bool ProcessHasOpen(const std::string& path) {
    char real[4096];
    if (!::realpath(path.c_str(), real)) return false;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        char target[4096];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (std::string(target) == real) found = true;
    }
    ::closedir(dir);
    return found;
}

}  // namespace tests
