// The folders the server serves when its settings name none: a "tftp" folder
// in the user's home, with "outbound" for the files clients fetch and
// "inbound" for the files they send. Never the folder the program happened to
// be started from, which for a desktop launcher is the home folder itself.
#pragma once

#include <string>

struct ServerSettings;

// "<home>/tftp/outbound/" and "<home>/tftp/inbound/", with the trailing "/"
// the folder settings keep. The home is $HOME, or the user's entry in the
// password database when that is unset.
std::string DefaultOutboundFolder();
std::string DefaultInboundFolder();

// Creates folder and the folders above it when missing. False when it is not
// a folder afterwards.
bool MakeFolder(const std::string& folder);

// An empty OutPath or InPath becomes its default folder, which is created.
// A folder the settings name is kept as it is, whether it exists or not.
void FillEmptyFolders(ServerSettings& settings);
