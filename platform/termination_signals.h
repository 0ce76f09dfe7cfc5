// SIGTERM, SIGINT and SIGHUP (a session ending, a shutdown, Ctrl+C, a closed
// terminal) turned into a call on the main thread, so that the program can
// end the way its own Exit command does instead of dying with unsaved work.
//
// The handler only writes the signal number into a pipe; a socket notifier
// on the pipe's other end makes the call from the event loop.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class TerminationSignals {
public:
    using Handler = std::function<void(int signalNumber)>;

    // Installs the handlers; the previous ones come back on destruction.
    // Only one instance may exist at a time.
    explicit TerminationSignals(Handler handler);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be set up.
    bool Installed() const { return installed_; }

private:
    void Drain();

    Handler handler_;
    int pipe_[2] = {-1, -1};
    bool installed_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
