// What the transfer list needs from the application: the settings it reads
// and changes, the clock its times come from, the prompts, the listener's
// periodic check and transfer count, the idle-check switch, and the store of
// the window's rectangle. The application implements it; tests may fake it.
#pragma once

#include "server/app/settings_store.h"

struct ServerSettings;

namespace platform {
class Clock;
class PromptService;
}  // namespace platform

class DisplayHost {
public:
    virtual ~DisplayHost() = default;

    virtual ServerSettings& Settings() = 0;
    virtual platform::Clock& WallClock() = 0;
    virtual platform::PromptService& Prompts() = 0;

    // The listener's periodic check (the view has the events of the ended
    // transfers when it returns) and the number of transfers it still lists.
    virtual void SweepTransfers() = 0;
    virtual int TransferCount() = 0;
    // The view's timer now drives the periodic check: idle processing stops.
    virtual void ClearIdleCheck() = 0;

    virtual bool LoadWindowPlacement(WindowRect& rect) = 0;
    virtual void SaveWindowPlacement(const WindowRect& rect) = 0;
};
