// Idle processing for an application object: OnIdle(count) is called while
// the event queue is empty, with count 0, 1, 2, ... counting the calls since
// the last event, and called again while it answers true. Calls that keep
// asking for more are paced (about one a millisecond) so that a program with
// idle work pending does not spin a core. While events keep coming between
// calls (a transfer in full flow) a slower busy pace may be chosen: a
// pacing timer firing between every few datagrams costs a lock-step
// transfer speed, and the count only climbs once the events stop anyway.
#pragma once

#include <QBasicTimer>
#include <QObject>

#include <functional>

namespace platform {

class IdleDriver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(long count)>;

    // paceMs: the pause between two calls while the handler keeps asking;
    // busyPaceMs (0: the same): the pause after a call that followed an event.
    explicit IdleDriver(Handler handler, int paceMs = 1, int busyPaceMs = 0);
    ~IdleDriver() override;

    // Watches the application's events and starts idle calls.
    void Start();
    void Stop();

    long CallsMade() const { return callsMade_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Arm(int ms);

    Handler handler_;
    int paceMs_;
    int busyPaceMs_;
    long count_ = 0;
    long callsMade_ = 0;
    int armedMs_ = -1;
    bool running_ = false;
    QBasicTimer timer_;
};

}  // namespace platform
