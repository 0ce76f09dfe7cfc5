// Posted window messages: a message is queued on the receiver's thread and
// handled after the poster's current work has returned, in the order posted.
// The receiver owns its queue; messages still queued when it goes away are
// dropped with it.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>

namespace platform {

// The platform's first message number for a program's own messages.
inline constexpr int WM_USER = 0x0400;

class PostedMessages {
public:
    using Handler = std::function<void(int message, std::int64_t wParam, std::int64_t lParam)>;

    explicit PostedMessages(Handler handler) : handler_(std::move(handler)) {}
    PostedMessages(const PostedMessages&) = delete;
    PostedMessages& operator=(const PostedMessages&) = delete;

    void PostMessage(int message, std::int64_t wParam, std::int64_t lParam) {
        QMetaObject::invokeMethod(
            &queue_, [this, message, wParam, lParam] { handler_(message, wParam, lParam); },
            Qt::QueuedConnection);
    }

private:
    Handler handler_;
    QObject queue_;  // its destruction removes the calls still queued
};

// Calls queued the same way: each runs after the poster's current work has
// returned, in the order posted. Dropped when the queue goes away.
class PostedCalls {
public:
    PostedCalls() = default;
    PostedCalls(const PostedCalls&) = delete;
    PostedCalls& operator=(const PostedCalls&) = delete;

    void Post(std::function<void()> call) {
        QMetaObject::invokeMethod(&queue_, std::move(call), Qt::QueuedConnection);
    }
    // Runs what is queued now, for a reader that must see it at once (the
    // rows logged at exit).
    void Flush() { QCoreApplication::sendPostedEvents(&queue_, QEvent::MetaCall); }

private:
    QObject queue_;
};

}  // namespace platform
