#include "engine_harness.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tests {

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || elapsed.elapsed() > timeoutMs) loop.quit();
    });
    poll.start(2);
    loop.exec();
    return done();
}

void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void RecordingView::OnTransferEvent(const TransferEvent& event) {
    Seen s;
    s.message = MessageOf(event);
    s.number = NumberOf(event);
    if (const auto* e = std::get_if<TransferStarted>(&event)) {
        s.text = e->client;
    } else if (const auto* e = std::get_if<TransferFile>(&event)) {
        s.text = e->path;
    } else if (const auto* e = std::get_if<TransferProgress>(&event)) {
        s.text = e->text;
        s.done = e->bytes;
        s.total = e->total;
    } else if (const auto* e = std::get_if<TransferEnded>(&event)) {
        s.failed = e->timedOut ? 1 : 0;
    } else if (const auto* e = std::get_if<TransferResult>(&event)) {
        s.text = e->text;
    }
    seen.push_back(std::move(s));
}

std::vector<Seen> RecordingView::Of(int message) const {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.message == message) out.push_back(s);
    return out;
}

std::string RecordingView::ResultOf(int number) const {
    for (const Seen& s : seen)
        if (s.message == WM_TRANSFER_RESULT && s.number == number) return s.text;
    return {};
}

bool RecordingView::Reported(int number) const {
    for (const Seen& s : seen)
        if (s.message == WM_TRANSFER_RESULT && s.number == number) return true;
    return false;
}

int RecordingView::CountOf(int message) const {
    int n = 0;
    for (const Seen& s : seen) n += s.message == message;
    return n;
}

RawClient::RawClient(const std::string& address) { Create(address, 0, true); }

std::uint16_t RawClient::Datagram::Opcode() const {
    return bytes.size() >= 2 ? tftp::GetU16(reinterpret_cast<const std::uint8_t*>(bytes.data())) : 0;
}

std::uint16_t RawClient::Datagram::Block() const {
    return bytes.size() >= 4 ? tftp::GetU16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2)
                             : 0;
}

void RawClient::Send(const std::string& bytes, const platform::PeerAddress& to) {
    SendTo(bytes.data(), static_cast<int>(bytes.size()), to);
}

bool RawClient::Next(Datagram& out, int timeoutMs) {
    if (!WaitFor([&] { return !received.empty(); }, timeoutMs)) return false;
    out = received.front();
    received.pop_front();
    return true;
}

bool RawClient::Quiet(int ms) {
    Settle(ms);
    return received.empty();
}

void RawClient::OnReceive(int) {
    std::string buf(70000, '\0');
    Datagram d;
    const int n = ReceiveFrom(buf.data(), static_cast<int>(buf.size()), d.from);
    if (n < 0) return;
    buf.resize(static_cast<std::size_t>(n));
    d.bytes = std::move(buf);
    received.push_back(std::move(d));
}

namespace {
void PutU16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xFF));
}
void PutStr(std::string& s, const std::string& text) {
    s += text;
    s.push_back('\0');
}
}  // namespace

std::string Request(std::uint16_t opcode, const std::string& name, const std::string& mode,
                    const std::vector<std::pair<std::string, std::string>>& options) {
    std::string s;
    PutU16(s, opcode);
    PutStr(s, name);
    PutStr(s, mode);
    for (const auto& [key, value] : options) {
        PutStr(s, key);
        PutStr(s, value);
    }
    return s;
}

std::string Ack(std::uint16_t block) {
    std::string s;
    PutU16(s, tftp::kAck);
    PutU16(s, block);
    return s;
}

std::string Data(std::uint16_t block, const std::string& payload) {
    std::string s;
    PutU16(s, tftp::kData);
    PutU16(s, block);
    return s + payload;
}

std::string ErrorPacket(std::uint16_t code, const std::string& text) {
    std::string s;
    PutU16(s, tftp::kError);
    PutU16(s, code);
    PutStr(s, text);
    return s;
}

int FreePort(const std::string& address) {
    platform::AsyncUdpSocket probe;
    if (!probe.Create(address, 0, false)) return 0;
    return probe.LocalPort();
}

EngineHarness::EngineHarness(const std::string& address, int port)
    : addresses("testhost", {address}), app(settings, clock, prompts, addresses) {
    settings.OutPath = outDir.Path() + "/";
    settings.InPath = inDir.Path() + "/";
    settings.Port = std::to_string(port != 0 ? port : FreePort(address));
    settings.nMaxClients = 5;  // no limit unless a test sets one
    app.view = &view;
    app.SetProgressEveryMs(0);  // the tests follow every step of a row
    app.resendOnTransferThreads = false;  // time moves only when a test says
    listenAt = platform::PeerAddress{platform::InetAddr(address),
                                     static_cast<std::uint16_t>(std::stoi(settings.Port))};
}

EngineHarness::~EngineHarness() { listener.reset(); }

bool EngineHarness::Start() {
    listener = std::make_unique<CListenSocket>(app);
    return listener->StartListening();
}

void EngineHarness::Sweep() {
    listener->SweepTransfers();
    app.DeliverEvents();
}

bool EngineHarness::WaitReported(int number, int timeoutMs) {
    return WaitFor(
        [&] {
            listener->SweepTransfers();
            return view.Reported(number);
        },
        timeoutMs);
}

}  // namespace tests
