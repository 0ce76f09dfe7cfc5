#include "termination_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end for the handler; -1 while no instance exists.
volatile std::sig_atomic_t writeEnd = -1;
struct sigaction previous[3];

void OnSignal(int signalNumber) {
    const int saved = errno;
    const int fd = writeEnd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a request to end; losing this one is fine.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(Handler handler) : handler_(std::move(handler)) {
    if (writeEnd >= 0) return;
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    writeEnd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = true;
    for (int i = 0; i < 3; ++i)
        if (::sigaction(kSignals[i], &action, &previous[i]) != 0) installed_ = false;
}

TerminationSignals::~TerminationSignals() {
    if (pipe_[1] < 0) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    writeEnd = -1;
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::Drain() {
    // Signals that came together make one call: a request to end wins over
    // a hang-up, which may mean something else to the program (reload).
    int chosen = 0;
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(pipe_[0], bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i)
            if (!chosen || chosen == SIGHUP) chosen = bytes[i];
    }
    if (chosen && handler_) handler_(chosen);
}

}  // namespace platform
