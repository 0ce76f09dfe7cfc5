// A host name looked up off the window's thread: the lookup runs on a
// thread of its own and its result comes back to the thread that asked, as a
// queued call from the event loop. A lookup that is cancelled (a new one,
// Cancel, or the object's end) never calls back; its thread finishes on its
// own and its result is dropped.
#pragma once

#include "client/engine/host_candidates.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace skerry {

class AsyncHostLookup {
public:
    using Done = std::function<void(std::vector<platform::PeerAddress> candidates)>;

    explicit AsyncHostLookup(NameLookup lookup = SystemLookup);
    ~AsyncHostLookup();
    AsyncHostLookup(const AsyncHostLookup&) = delete;
    AsyncHostLookup& operator=(const AsyncHostLookup&) = delete;

    // Looks host up (HostCandidates with port); done gets the candidates,
    // empty when the name does not resolve. Cancels a lookup still running.
    void Start(const std::string& host, std::uint16_t port, Done done);
    void Cancel();
    // A lookup has started and neither called back nor been cancelled.
    bool Running() const;
    // The resolver for the lookups from now on (tests play a slow one).
    void UseLookup(NameLookup lookup) { lookup_ = std::move(lookup); }

private:
    struct Pending;
    NameLookup lookup_;
    std::unique_ptr<QObject> receiver_;  // where results are delivered
    std::shared_ptr<Pending> pending_;
};

}  // namespace skerry
