// What a client transfer needs of the application: its settings, the status
// bar, and the services tests replace (clock, local addresses). It asks the
// user nothing: the view does.
#pragma once

#include "client/engine/client_settings.h"
#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/spin_allowance.h"

#include <string>

// The first pane of the main window's status bar.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    // first: not used (callers pass 0).
    virtual void SetStatusText(int unused, const std::string& text) = 0;
};

struct ClientContext {
    ClientSettings& settings;
    platform::Clock& clock;
    tftp::AddressProvider& addresses;
    StatusSink& status;
    // Each transfer's worker thread sends its resends and times it out; off,
    // only calls of CheckTimeout do (tests that move time by hand). Set
    // before transfers start.
    bool timeOnTransferThreads = true;
    // Transfer threads that may poll for a burst instead of sleeping.
    platform::SpinAllowance spinners{};
};
