// The programs' command line: --help and --version, and nothing else.
#pragma once

#include <QString>

namespace platform {

// Before the application object exists: a lone --help or --version (or -h,
// -v) is answered without a display. Returns the exit status, or -1 to go on.
int EarlyCommandLine(int argc, char** argv, const QString& name, const QString& version,
                     const QString& description);

// Once the application exists (Qt's own options such as -platform taken
// out): --help and --version print and return 0; anything else prints the
// usage on standard error and returns 2; -1 means start as usual.
int HandleCommandLine(const QString& description);

}  // namespace platform
