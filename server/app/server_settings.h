// Every setting of the server, held by the application object, loaded at
// start and saved at the end: what the engine goes by, and the program's
// own (window, display, log, priority). The short Hungarian names double as
// the names of the stored values.
#pragma once

#include "server/engine/engine_settings.h"

#include <cstddef>
#include <string>

struct ServerSettings : EngineSettings {
    // Every text value passes through a 100-byte buffer: at most 99 characters.
    static constexpr std::size_t kMaxText = 99;

    int bRaisePriority = 0;
    std::string Location;
    int bNoSplash = 0;
    int bAlertMinimised = 1;
    int bUseGraphic = 0;
    int bMinimiseAtStart = 0;
    int nMaxDisplay = 6;    // slider position 0..6: 5, 10, 20, 30, 40, 50, 100 rows
    int nPriority = 4;      // 0 low, 1 normal, 2 high, 3 automatic, 4 none chosen
    std::string LogFile = "Orvane.log";
    int bDisplay = 1;
};
