#include "host_lookup.h"

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <thread>

namespace skerry {

// Shared by the asking thread and the lookup's thread; the lock keeps a
// result from being posted to a receiver that is going away.
struct AsyncHostLookup::Pending {
    std::mutex lock;
    bool cancelled = false;
    QObject* receiver = nullptr;
    Done done;  // touched on the asking thread only
};

AsyncHostLookup::AsyncHostLookup(NameLookup lookup)
    : lookup_(std::move(lookup)), receiver_(std::make_unique<QObject>()) {}

AsyncHostLookup::~AsyncHostLookup() { Cancel(); }

void AsyncHostLookup::Start(const std::string& host, std::uint16_t port, Done done) {
    Cancel();
    auto pending = std::make_shared<Pending>();
    pending->receiver = receiver_.get();
    pending->done = std::move(done);
    pending_ = pending;
    // Detached: a resolver that takes its time must not hold up the window
    // or the program's end. The thread owns copies of all it uses.
    std::thread([pending, host, port, lookup = lookup_] {
        std::vector<platform::PeerAddress> found = HostCandidates(host, port, lookup);
        const std::lock_guard<std::mutex> hold(pending->lock);
        if (pending->cancelled) return;
        QMetaObject::invokeMethod(
            pending->receiver,
            [pending, found = std::move(found)]() mutable {
                Done done;
                {
                    const std::lock_guard<std::mutex> hold(pending->lock);
                    if (pending->cancelled) return;
                    pending->cancelled = true;  // called back: no longer running
                    done = std::move(pending->done);
                }
                if (done) done(std::move(found));
            },
            Qt::QueuedConnection);
    }).detach();
}

void AsyncHostLookup::Cancel() {
    if (!pending_) return;
    {
        const std::lock_guard<std::mutex> hold(pending_->lock);
        pending_->cancelled = true;
    }
    pending_->done = nullptr;
    pending_.reset();
}

bool AsyncHostLookup::Running() const {
    if (!pending_) return false;
    const std::lock_guard<std::mutex> hold(pending_->lock);
    return !pending_->cancelled;
}

}  // namespace skerry
