#include "folder_system.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <strings.h>

namespace folders {

namespace fs = std::filesystem;

std::string FolderOfPath(const std::string& path) {
    if (path.empty() || path.back() == '/') return path;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ParentFolder(const std::string& folder) {
    if (!HasParentEntry(folder)) return folder;
    std::string up = folder;
    if (up.back() == '/') up.pop_back();
    const std::size_t slash = up.rfind('/');
    return slash == std::string::npos ? std::string() : up.substr(0, slash + 1);
}

bool HasParentEntry(const std::string& folder) { return !folder.empty() && folder != "/"; }

std::vector<std::string> ListSubFolders(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError)) continue;  // files, broken links
        std::string name = it->path().filename().string();
        if (name.empty() || (name[0] == '.' && (name.size() == 1 || name[1] == '.'))) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX + 1];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

namespace {

// File systems of the kernel's own interfaces: nothing a user keeps files in.
bool IsPseudoFileSystem(const std::string& type) {
    static const std::set<std::string> pseudo = {
        "proc",      "sysfs",     "cgroup",     "cgroup2",  "devpts",  "devtmpfs",
        "mqueue",    "debugfs",   "tracefs",    "securityfs", "pstore", "bpf",
        "configfs",  "fusectl",   "hugetlbfs",  "binfmt_misc", "autofs", "efivarfs",
        "nsfs",      "rpc_pipefs", "selinuxfs", "nfsd"};
    return pseudo.count(type) != 0;
}

bool IsUnder(const std::string& path, const std::string& top) {
    return path == top || path.compare(0, top.size() + 1, top + "/") == 0;
}

// The mount table writes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

}  // namespace

std::vector<std::string> DrivesFromMounts(
    const std::string& mountsText, const std::function<bool(const std::string&)>& usable) {
    std::set<std::string> drives;
    std::istringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        mountPoint = Unescape(mountPoint);
        if (mountPoint.empty() || mountPoint[0] != '/' || IsPseudoFileSystem(type)) continue;
        if (IsUnder(mountPoint, "/proc") || IsUnder(mountPoint, "/sys") ||
            IsUnder(mountPoint, "/dev"))
            continue;
        if (!usable(mountPoint)) continue;
        if (mountPoint.back() != '/') mountPoint.push_back('/');
        drives.insert(mountPoint);
    }
    return {drives.begin(), drives.end()};
}

std::vector<std::string> SystemDrives() {
    std::ifstream table("/proc/self/mounts");
    std::stringstream text;
    if (table) text << table.rdbuf();
    std::vector<std::string> drives =
        DrivesFromMounts(text.str(), [](const std::string& mountPoint) {
            std::error_code ec;
            return fs::is_directory(mountPoint, ec) && access(mountPoint.c_str(), X_OK) == 0;
        });
    if (drives.empty()) drives.push_back("/");
    return drives;
}

int DriveOf(const std::string& folder, const std::vector<std::string>& drives) {
    if (folder.empty() || folder[0] != '/') return -1;
    int best = -1;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const std::string& d = drives[i];
        if (folder.compare(0, d.size(), d) == 0 &&
            (best < 0 || d.size() > drives[static_cast<std::size_t>(best)].size()))
            best = static_cast<int>(i);
    }
    return best;
}

}  // namespace folders
