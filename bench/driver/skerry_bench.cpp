// Runs one transfer of Skerry's engine, the real CTransferSocket, from the
// command line and exits: the client side of the benchmarks. The transfer is
// driven as the program drives it: the socket's notifications on the event
// loop, and the time-out check from the idle processing, which calls it on
// idle passes whose count has bit 0x40 set while a transfer is busy.
//
//   bench_skerry --host A.B.C.D --port P --blksize B (--get|--put) REMOTE
//                --local PATH [--timeout SECONDS] [--deadline SECONDS]
//
// Prints "elapsed SECONDS" (request to end), "bytes N" and the last status
// text; exit status 0 when the transfer completed.
#include "client/engine/client_context.h"
#include "client/engine/transfer_messages.h"
#include "client/engine/transfer_socket.h"
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/idle_driver.h"
#include "platform/posted_messages.h"
#include "platform/scripted_prompt_service.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string host, remote, local;
    int port = 69;
    int blockSize = 512;
    bool put = false;
    int timeoutSecs = 30;
    int deadlineSecs = 600;
};

bool Parse(int argc, char** argv, Options& o) {
    bool direction = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--host") o.host = v;
        else if (k == "--port") o.port = std::atoi(v.c_str());
        else if (k == "--blksize") o.blockSize = std::atoi(v.c_str());
        else if (k == "--get" || k == "--put") {
            o.put = k == "--put";
            o.remote = v;
            direction = true;
        } else if (k == "--local") o.local = v;
        else if (k == "--timeout") o.timeoutSecs = std::atoi(v.c_str());
        else if (k == "--deadline") o.deadlineSecs = std::atoi(v.c_str());
        else return false;
    }
    return argc % 2 == 1 && direction && !o.host.empty() && !o.local.empty() && o.port > 0 &&
           o.blockSize >= 8 && o.timeoutSecs > 0 && o.deadlineSecs > 0;
}

// The status bar of the program, without the window: keeps the last text.
class LastStatus final : public StatusSink {
public:
    void SetStatusText(int, const std::string& text) override { last = text; }
    std::string last;
};

// Notices the end of the transfer the moment it happens.
class BenchTransfer final : public CTransferSocket {
public:
    using CTransferSocket::CTransferSocket;
    Clock::time_point ended;

protected:
    void OnReceive(int error) override {
        CTransferSocket::OnReceive(error);
        if (busy != 1 && ended == Clock::time_point{}) {
            ended = Clock::now();
            QCoreApplication::quit();
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_skerry --host ADDR --port P --blksize B (--get|--put) REMOTE --local PATH "
                     "[--timeout S] [--deadline S]\n");
        return 2;
    }
    const std::size_t slash = o.local.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : o.local.substr(0, slash + 1);
    const std::string fileName = slash == std::string::npos ? o.local : o.local.substr(slash + 1);

    ClientSettings settings;
    settings.inboundPath = folder;
    settings.outboundPath = folder;
    settings.overwrite = 1;
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::SystemAddressProvider addresses;
    LastStatus status;
    ClientContext context{settings, clock, prompts, addresses, status};
    std::int64_t blockSizeChange = 0;
    platform::PostedMessages owner([&](int message, std::int64_t, std::int64_t lParam) {
        if (message == WM_TRANSFER_BLOCKSIZE) blockSizeChange = lParam;
    });

    BenchTransfer transfer(context);
    transfer.owner = &owner;
    transfer.blockSize = o.blockSize;
    transfer.timeoutSecs = o.timeoutSecs;
    transfer.sending = o.put ? 1 : 0;
    if (!transfer.OpenLocalPort()) {
        std::fprintf(stderr, "bench_skerry: no local port\n");
        return 1;
    }

    // The program's idle processing while a transfer is busy.
    platform::IdleDriver idle([&](long count) {
        if (transfer.busy == 1) {
            if (count & 0x40) transfer.CheckTimeout();
            if (transfer.busy != 1) QCoreApplication::quit();  // timed out
            return true;
        }
        return false;
    });
    idle.Start();
    QTimer::singleShot(o.deadlineSecs * 1000, [&] {
        transfer.Abort(-1);
        QCoreApplication::quit();
    });

    const Clock::time_point start = Clock::now();
    int started;
    if (o.put) {
        transfer.useSourceDir = 1;
        transfer.sourceDir = folder;
        started = transfer.StartSend(o.remote, fileName, o.host, o.port, 1, fileName);
    } else {
        started = transfer.StartFetch(o.remote, fileName, o.host, o.port, 1);
    }
    if (started != 1) {
        for (const std::string& text : prompts.MessageTexts()) std::fprintf(stderr, "prompt: %s\n", text.c_str());
        std::fprintf(stderr, "bench_skerry: the request did not go out\n");
        return 1;
    }
    app.exec();
    idle.Stop();

    const bool failed = status.last.rfind("Msg from Server", 0) == 0 || status.last == "Timed out";
    const bool done = transfer.busy == 0 && transfer.ended != Clock::time_point{} && !failed &&
                      (o.put ? transfer.lastBlockSent == 1 : status.last.find(" - Done") != std::string::npos);
    const double seconds = std::chrono::duration<double>((done ? transfer.ended : Clock::now()) - start).count();
    std::printf("elapsed %.6f\nbytes %lld\nblocksize %d\nstatus %s\n", seconds,
                static_cast<long long>(o.put ? transfer.bytesSent : transfer.bytesReceived), transfer.blockSize,
                status.last.c_str());
    if (blockSizeChange) std::printf("blocksize changed by the socket buffer to %lld\n",
                                     static_cast<long long>(blockSizeChange));
    for (const std::string& text : prompts.MessageTexts()) std::printf("prompt: %s\n", text.c_str());
    return done ? 0 : 1;
}
