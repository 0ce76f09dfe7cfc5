// The server engine without its window: the listener and its transfers on an
// event loop, swept every 5 seconds as the transfer list's timer does, and
// asked every few milliseconds to resend what went unanswered (the program
// does that in its idle processing). The
// benchmarks run it beside the real program (--engine) to tell the cost of
// the display apart from the engine's own.
//
//   bench_vantrel_engine --port P --folder DIR/ [--gui] [--idle [--idle-pace MS]]
//
// Serves DIR/ both ways with no client limit until it is ended by a signal.
// Two knobs add back what the program has around the engine, one at a time:
// --gui runs a QApplication with one window shown; --idle runs idle
// processing that asks for more while transfers are listed, as the server
// program's does (paced one call a millisecond, or --idle-pace).
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/idle_driver.h"
#include "platform/scripted_prompt_service.h"
#include "server/engine/listen_socket.h"
#include "server/engine/server_context.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    std::string port, folder;
    bool gui = false, idleWork = false, bad = false;
    int idlePaceMs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        if (k == "--gui") gui = true;
        else if (k == "--idle") idleWork = true;
        else if (k == "--idle-pace" && i + 1 < argc) idlePaceMs = std::atoi(argv[++i]);
        else if (k == "--port" && i + 1 < argc) port = argv[++i];
        else if (k == "--folder" && i + 1 < argc) folder = argv[++i];
        else bad = true;
    }
    if (port.empty() || folder.empty() || bad) {
        std::fprintf(stderr, "usage: bench_vantrel_engine --port P --folder DIR/ [--gui] [--idle [--idle-pace MS]]\n");
        return 2;
    }
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QMainWindow> window;
    if (gui) {
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<QMainWindow>();
        window->resize(640, 400);
        window->show();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (folder.back() != '/') folder += '/';

    EngineSettings settings;
    settings.Port = port;
    settings.InPath = settings.OutPath = folder;
    settings.nMaxClients = 5;  // no limit
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::SystemAddressProvider addresses;
    ServerContext context(settings, clock, prompts, addresses);
    context.bIdleCheck = 0;  // the timer below runs the check

    CListenSocket listener(context);
    if (!listener.StartListening()) {
        for (const std::string& text : prompts.MessageTexts()) std::fprintf(stderr, "prompt: %s\n", text.c_str());
        return 1;
    }
    QTimer sweep;
    QObject::connect(&sweep, &QTimer::timeout, [&] { listener.SweepTransfers(); });
    sweep.start(5000);
    // Without the idle processing a timer resends what went unanswered.
    QTimer resend;
    QObject::connect(&resend, &QTimer::timeout, [&] {
        if (listener.TransferCount() > 0) listener.ResendSilent();
    });
    platform::IdleDriver idle([&](long) {
        if (listener.TransferCount() == 0) return false;
        listener.ResendSilent();
        return true;
    }, idlePaceMs);
    if (idleWork) idle.Start();
    else resend.start(5);
    std::printf("listening on %s\n", context.listenLabel.c_str());
    std::fflush(stdout);
    return app->exec();
}
