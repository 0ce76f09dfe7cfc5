#include "default_folders.h"

#include "server/app/server_settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    // No home at all: a folder at the root, which an ordinary user cannot
    // create, so requests fail rather than reach some other folder.
    return "/";
}

std::string UnderHome(const char* leaf) {
    std::string folder = HomeFolder();
    if (folder.back() != '/') folder.push_back('/');
    return folder + "tftp/" + leaf + "/";
}

}  // namespace

std::string DefaultOutboundFolder() { return UnderHome("outbound"); }

std::string DefaultInboundFolder() { return UnderHome("inbound"); }

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

void FillEmptyFolders(ServerSettings& settings) {
    if (settings.OutPath.empty()) {
        settings.OutPath = DefaultOutboundFolder();
        MakeFolder(settings.OutPath);
    }
    if (settings.InPath.empty()) {
        settings.InPath = DefaultInboundFolder();
        MakeFolder(settings.InPath);
    }
}
