// The server engine without its window: the listener and its transfers on an
// event loop, swept every 5 seconds as the transfer list's timer does. The
// benchmarks run it beside the real program (--engine) to tell the cost of
// the display apart from the engine's own.
//
//   bench_vantrel_engine --port P --folder DIR/
//
// Serves DIR/ both ways with no client limit until it is ended by a signal.
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/scripted_prompt_service.h"
#include "server/engine/listen_socket.h"
#include "server/engine/server_context.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string port, folder;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--port") port = argv[i + 1];
        else if (k == "--folder") folder = argv[i + 1];
    }
    if (port.empty() || folder.empty() || argc % 2 == 0) {
        std::fprintf(stderr, "usage: bench_vantrel_engine --port P --folder DIR/\n");
        return 2;
    }
    if (folder.back() != '/') folder += '/';

    ServerSettings settings;
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
    std::printf("listening on %s\n", context.listenLabel.c_str());
    std::fflush(stdout);
    return app.exec();
}
