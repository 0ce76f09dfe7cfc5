#include "idle_driver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>

namespace platform {

IdleDriver::IdleDriver(Handler handler, int paceMs, int busyPaceMs)
    : handler_(std::move(handler)),
      paceMs_(paceMs < 1 ? 1 : paceMs),
      busyPaceMs_(busyPaceMs < 1 ? paceMs_ : busyPaceMs) {}

IdleDriver::~IdleDriver() { Stop(); }

void IdleDriver::Start() {
    if (running_) return;
    running_ = true;
    QCoreApplication::instance()->installEventFilter(this);
    count_ = 0;
    Arm(0);
}

void IdleDriver::Stop() {
    if (!running_) return;
    running_ = false;
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
    timer_.stop();
    armedMs_ = -1;
}

void IdleDriver::Arm(int ms) {
    if (timer_.isActive() && armedMs_ == ms) return;
    timer_.start(ms, Qt::PreciseTimer, this);
    armedMs_ = ms;
}

bool IdleDriver::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    // Painting and our own pacing timer are not messages that end idleness.
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
        break;
    case QEvent::Timer:
        if (watched == this &&
            static_cast<QTimerEvent*>(event)->timerId() == timer_.timerId())
            break;
        [[fallthrough]];
    default:
        count_ = 0;
        if (!timer_.isActive()) Arm(0);
        break;
    }
    return false;
}

void IdleDriver::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    ++callsMade_;
    // A count of 0 means events came since the last call.
    const bool afterEvents = count_ == 0;
    const bool more = handler_(count_++);
    if (!running_) return;
    if (more) {
        Arm(afterEvents ? busyPaceMs_ : paceMs_);
    } else {
        timer_.stop();
        armedMs_ = -1;
    }
}

}  // namespace platform
