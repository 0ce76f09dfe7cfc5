// Runs one transfer of Skerry from the command line and exits: the client
// side of the benchmarks. Two ways:
//
//  - the engine (default): the real CTransferSocket, driven as the program
//    drives it: its own thread serves its socket and keeps its time, the
//    event loop gets its progress and status texts;
//  - --window: the real program, CClientApp with its window, form and view,
//    its entries filled in and its Get or Send button clicked.
//
//   bench_skerry --host HOST --port P --blksize B (--get|--put) REMOTE
//                --local PATH [--timeout SECONDS] [--deadline SECONDS] [--window]
//                [--windowsize BLOCKS]
//
// --windowsize above 1 asks the server for that many blocks per ACK (the
// windowsize option); the engine falls back to lock-step when the server's
// answer lacks it. Prints "elapsed SECONDS" (from the start to the moment the
// transfer ended), "bytes N", the block and window sizes in use at the end,
// the last status text, the server's address that answered and the local
// address; exit status 0 when it completed. HOST is what the Host field
// takes: dotted IPv4, an IPv6 literal (brackets or none) or a name, whose
// addresses are tried in turn.
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/engine/client_context.h"
#include "client/engine/host_candidates.h"
#include "client/engine/transfer_messages.h"
#include "client/engine/transfer_socket.h"
#include "client/halden_view.h"
#include "client/main_frame.h"
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/control_ids.h"
#include "platform/idle_driver.h"
#include "platform/posted_messages.h"
#include "platform/scripted_prompt_service.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// The form takes block sizes up to this; a larger one opens a dialog.
constexpr int kWindowMaxBlock = 65420;

struct Options {
    std::string host, remote, local;
    int port = 69;
    int blockSize = 512;
    int windowSize = 1;
    bool put = false;
    bool window = false;
    int timeoutSecs = 30;
    int deadlineSecs = 600;
};

bool Parse(int argc, char** argv, Options& o) {
    bool direction = false;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        if (k == "--window") {
            o.window = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string v = argv[++i];
        if (k == "--host") o.host = v;
        else if (k == "--port") o.port = std::atoi(v.c_str());
        else if (k == "--blksize") o.blockSize = std::atoi(v.c_str());
        else if (k == "--windowsize") o.windowSize = std::atoi(v.c_str());
        else if (k == "--get" || k == "--put") {
            o.put = k == "--put";
            o.remote = v;
            direction = true;
        } else if (k == "--local") o.local = v;
        else if (k == "--timeout") o.timeoutSecs = std::atoi(v.c_str());
        else if (k == "--deadline") o.deadlineSecs = std::atoi(v.c_str());
        else return false;
    }
    return direction && !o.host.empty() && !o.local.empty() && o.port > 0 && o.blockSize >= 8 && o.windowSize >= 1 &&
           o.windowSize <= 65535 &&
           o.timeoutSecs > 0 && o.deadlineSecs > 0;
}

// Notes the moment the transfer ends: after every event it has handled, the
// application looks whether the transfer is still busy.
class BenchApplication final : public QApplication {
public:
    using QApplication::QApplication;
    std::function<const CTransferSocket*()> transfer;
    Clock::time_point ended{};

    bool notify(QObject* receiver, QEvent* event) override {
        const bool handled = QApplication::notify(receiver, event);
        if (transfer && ended == Clock::time_point{}) {
            const CTransferSocket* t = transfer();
            if (t && [t] {
                    const auto hold = t->Hold();
                    return t->busy != 1;
                }()) {
                ended = Clock::now();
                quit();
            }
        }
        return handled;
    }
};

// The status bar of the engine alone: keeps the last text.
class LastStatus final : public StatusSink {
public:
    void SetStatusText(int, const std::string& text) override { last = text; }
    std::string last;
};

struct Outcome {
    bool started = false;
    const CTransferSocket* transfer = nullptr;
};

void PrintPrompts(const platform::ScriptedPromptService& prompts, std::FILE* to) {
    for (const std::string& text : prompts.MessageTexts()) std::fprintf(to, "prompt: %s\n", text.c_str());
}

int Report(const Options& o, BenchApplication& app, const CTransferSocket& t, const std::string& status,
           Clock::time_point start, const platform::ScriptedPromptService& prompts) {
    const auto hold = t.Hold();
    const bool failed = status.rfind("Msg from Server", 0) == 0 || status == "Timed out";
    const bool done = t.busy == 0 && app.ended != Clock::time_point{} && !failed &&
                      (o.put ? t.lastBlockSent == 1 : status.find(" - Done") != std::string::npos);
    const double seconds = std::chrono::duration<double>((done ? app.ended : Clock::now()) - start).count();
    std::printf("elapsed %.6f\nbytes %lld\nblocksize %d\nwindowsize %d\nstatus %s\n", seconds,
                static_cast<long long>(o.put ? t.bytesSent : t.bytesReceived), t.blockSize, t.Window(),
                status.c_str());
    // Who answered (the server's transfer port) and the local address in use.
    std::printf("server %s port %u\nlocal %s\n", t.server.AddressText().c_str(), t.server.port,
                t.localAddress.c_str());
    PrintPrompts(prompts, stdout);
    return done ? 0 : 1;
}

int RunEngine(const Options& o, BenchApplication& app, const std::string& folder, const std::string& fileName) {
    ClientSettings settings;
    settings.inboundPath = folder;
    settings.outboundPath = folder;
    settings.overwrite = 1;
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::SystemAddressProvider addresses;
    LastStatus status;
    ClientContext context{settings, clock, addresses, status};
    platform::PostedMessages owner([](int, std::int64_t, std::int64_t) {});

    CTransferSocket transfer(context);
    transfer.owner = &owner;
    transfer.blockSize = o.blockSize;
    transfer.windowSize = o.windowSize;
    transfer.timeoutSecs = o.timeoutSecs;
    transfer.sending = o.put ? 1 : 0;
    tftp::LocalAddressChoice choice;
    if (!tftp::SelectLocalAddress(addresses, prompts, settings.defaultIp, choice) ||
        !transfer.OpenLocalPort(choice.address)) {
        PrintPrompts(prompts, stderr);
        std::fprintf(stderr, "bench_skerry: no local port\n");
        return 1;
    }
    // The program's idle processing while a transfer is busy (its own
    // thread keeps its time).
    platform::IdleDriver idle([&](long) {
        const auto hold = transfer.Hold();
        return transfer.busy == 1;
    }, CClientApp::kIdlePaceMs, CClientApp::kBusyIdlePaceMs);
    idle.Start();
    QTimer::singleShot(o.deadlineSecs * 1000, [&] {
        const auto hold = transfer.Hold();
        transfer.Abort(-1);
    });

    const std::vector<platform::PeerAddress> servers = skerry::HostCandidates(o.host, 0);
    if (servers.empty()) {
        std::fprintf(stderr, "bench_skerry: %s is no address and does not resolve\n", o.host.c_str());
        return 1;
    }
    const Clock::time_point start = Clock::now();
    int started;
    auto hold = transfer.Hold();
    if (o.put) {
        transfer.useSourceDir = 1;
        transfer.sourceDir = folder;
        started = transfer.StartSend(o.remote, fileName, servers, o.port, 1, fileName);
    } else {
        started = transfer.StartFetch(o.remote, fileName, servers, o.port, 1);
    }
    hold.unlock();
    if (started != 1) {
        PrintPrompts(prompts, stderr);
        std::fprintf(stderr, "bench_skerry: the request did not go out\n");
        return 1;
    }
    app.transfer = [&] { return &transfer; };
    app.exec();
    idle.Stop();
    // The texts its thread posted before the end.
    QCoreApplication::sendPostedEvents();
    return Report(o, app, transfer, status.last, start, prompts);
}

// The program's own status bar keeps the text; the driver keeps a copy.
class WindowApp final : public CClientApp {
public:
    using CClientApp::CClientApp;
    void SetStatusText(int unused, const std::string& text) override {
        CClientApp::SetStatusText(unused, text);
        last = text;
    }
    std::string last;
};

int RunWindow(const Options& o, BenchApplication& app, const std::string& folder, const std::string& fileName) {
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::SystemAddressProvider addresses;
    const std::string profile = folder + ".bench_skerry-" + std::to_string(::getpid()) + ".INI";
    struct RemoveProfile {
        const std::string& path;
        ~RemoveProfile() { ::unlink(path.c_str()); }
    } removeProfile{profile};

    WindowApp skerry(prompts, clock, addresses, profile);
    if (!skerry.InitInstance()) {
        PrintPrompts(prompts, stderr);
        std::fprintf(stderr, "bench_skerry: the program did not start\n");
        return 1;
    }
    skerry.inboundPath = folder;
    skerry.outboundPath = folder;
    skerry.overwrite = 1;
    skerry.windowSize = o.windowSize;  // the Setup sheet's "Window size"
    QWidget* frame = skerry.MainFrame();
    using platform::FindControl;
    auto* match = FindControl<QCheckBox>(frame, skerry::IDC_MATCH_FILES);
    auto* binary = FindControl<QCheckBox>(frame, skerry::IDC_BINARY);
    auto* blocks = FindControl<QComboBox>(frame, skerry::IDC_BLOCK_SIZE);
    auto* button = FindControl<QPushButton>(frame, o.put ? skerry::IDC_SEND : skerry::IDC_GET);
    if (!match || !binary || !blocks || !button) {
        std::fprintf(stderr, "bench_skerry: a control of the form is missing\n");
        return 1;
    }
    match->setChecked(false);
    binary->setChecked(true);
    FindControl<QLineEdit>(frame, skerry::IDC_HOST)->setText(QString::fromStdString(o.host));
    FindControl<QLineEdit>(frame, skerry::IDC_PORT)->setText(QString::number(o.port));
    FindControl<QLineEdit>(frame, skerry::IDC_TIMEOUT)->setText(QString::number(o.timeoutSecs));
    FindControl<QLineEdit>(frame, skerry::IDC_LOCAL_FILE)->setText(QString::fromStdString(fileName));
    FindControl<QLineEdit>(frame, skerry::IDC_REMOTE_FILE)->setText(QString::fromStdString(o.remote));
    blocks->setEditText(QString::number(std::min(o.blockSize, kWindowMaxBlock)));

    auto running = [&]() -> const CTransferSocket* {
        return skerry.View() ? skerry.View()->transfer.get() : nullptr;
    };
    QTimer::singleShot(o.deadlineSecs * 1000, [&] {
        if (skerry.View()) skerry.View()->OnAbort();
    });
    const Clock::time_point start = Clock::now();
    button->click();
    const CTransferSocket* t = running();
    if (!t || [t] {
            const auto hold = t->Hold();
            return t->busy != 1;
        }()) {
        PrintPrompts(prompts, stderr);
        std::fprintf(stderr, "bench_skerry: the transfer did not start (%s)\n", skerry.last.c_str());
        return 1;
    }
    app.transfer = running;
    app.exec();
    QCoreApplication::sendPostedEvents();
    return Report(o, app, *running(), skerry.last, start, prompts);
}

}  // namespace

int main(int argc, char** argv) {
    BenchApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_skerry --host ADDR --port P --blksize B (--get|--put) REMOTE --local PATH "
                     "[--timeout S] [--deadline S] [--window] [--windowsize N]\n");
        return 2;
    }
    const std::size_t slash = o.local.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : o.local.substr(0, slash + 1);
    const std::string fileName = slash == std::string::npos ? o.local : o.local.substr(slash + 1);
    return o.window ? RunWindow(o, app, folder, fileName) : RunEngine(o, app, folder, fileName);
}
