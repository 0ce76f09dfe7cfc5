// What a stalled transfer costs: Skerry (its real window, view and engine)
// fetches from a server that never answers, and the process's CPU time is
// measured over a few seconds before the time-out. For comparison, the same
// window with no transfer. Prints the share of one core; asserts nothing.
//
//   skerry_stall_cpu [seconds]
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/halden_view.h"
#include "client/main_frame.h"
#include "common/local_address.h"
#include "platform/async_udp_socket.h"
#include "platform/clock.h"
#include "platform/control_ids.h"
#include "platform/scripted_prompt_service.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms and returns the share of one core used.
double Measure(int ms) {
    const double before = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (CpuSeconds() - before) / (static_cast<double>(wall.elapsed()) / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    char folder[] = "/tmp/skerry-stall-XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    platform::ScriptedPromptService prompts;
    platform::SystemClock clock;
    tftp::FixedAddressProvider addresses("skerry", {"127.0.0.1"});
    // The silent server: a bound socket nobody reads.
    platform::AsyncUdpSocket silent;
    silent.Create("127.0.0.1", 0, false);

    CClientApp app(prompts, clock, addresses, std::string(folder) + "/Skerry.INI");
    if (!app.InitInstance()) return 1;
    app.inboundPath = std::string(folder) + "/";
    QWidget* frame = app.MainFrame();

    const double idle = Measure(seconds * 1000);

    using platform::FindControl;
    FindControl<QLineEdit>(frame, skerry::IDC_HOST)->setText("127.0.0.1");
    FindControl<QLineEdit>(frame, skerry::IDC_PORT)->setText(QString::number(silent.LocalPort()));
    FindControl<QLineEdit>(frame, skerry::IDC_TIMEOUT)->setText("3600");
    FindControl<QLineEdit>(frame, skerry::IDC_LOCAL_FILE)->setText("stalled.bin");
    FindControl<QPushButton>(frame, skerry::IDC_GET)->click();
    if (!app.View()->TransferBusy()) {
        std::fprintf(stderr, "the fetch did not start\n");
        return 1;
    }
    const long callsBefore = app.Idle().CallsMade();
    const double stalled = Measure(seconds * 1000);
    const long calls = app.Idle().CallsMade() - callsBefore;
    const bool stillBusy = app.View()->TransferBusy();
    app.View()->OnAbort();

    std::printf("skerry, no transfer:       %5.2f %% of one core over %d s\n", idle, seconds);
    std::printf("skerry, stalled transfer:  %5.2f %% of one core over %d s "
                "(%ld idle calls, %.0f a second; still waiting: %s)\n",
                stalled, seconds, calls, static_cast<double>(calls) / seconds,
                stillBusy ? "yes" : "no");
    ::unlink((std::string(folder) + "/stalled.bin").c_str());
    ::unlink((std::string(folder) + "/Skerry.INI").c_str());
    ::rmdir(folder);
    return 0;
}
