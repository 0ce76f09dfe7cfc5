// The server's command line: settings that hold for one run only (a service
// points the server at its folders and port this way), never written back
// to the store.
#pragma once

#include "common/port_range.h"
#include "server/app/server_settings.h"

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

struct RunOverrides {
    std::optional<std::string> port;     // "1".."65535"
    std::optional<std::string> outPath;  // an existing folder, ending with "/"
    std::optional<std::string> inPath;
    bool readOnly = false;               // uploads refused
    // --remap FILE: the name rewriting rules of a rules file, in place of
    // the stored ones (one rule a line, see tftp::ParseRules).
    std::optional<std::vector<tftp::NameRule>> nameRules;
    // Transfer ports and the block-size cap (--port-range N:M, --max-blksize N).
    std::optional<tftp::PortRange> portRange;
    std::optional<int> maxBlksize;       // 8..65464

    // Puts the overrides into settings.
    void ApplyTo(ServerSettings& settings) const;
    // What the store should keep: current, except that a setting still as
    // the command line set it keeps the value the store had (stored).
    ServerSettings ForStore(const ServerSettings& current, const ServerSettings& stored) const;
};

// Reads arguments (the program's name first, Qt's own options taken out).
// --help and --version print and return 0; a bad option or value prints
// why on standard error and returns 2; -1: start with overrides filled in.
int ReadRunOptions(const QStringList& arguments, const QString& description, RunOverrides& overrides);
