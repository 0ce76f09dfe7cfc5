// The file-system side of the folder browser: folder texts that end with
// "/", the mounted file systems offered as "drives", the sub-folders of a
// folder and the process's current directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace folders {

// The folder a path text names: unchanged when empty or ending with "/";
// otherwise cut after its last "/" ("/srv/tftp/boot.img" -> "/srv/tftp/"),
// or empty when it holds no "/".
std::string FolderOfPath(const std::string& path);

// One level up: "/srv/tftp/" -> "/srv/", "/srv/" -> "/", "boot/" -> "" (the
// current directory). "/" and "" stay as they are.
std::string ParentFolder(const std::string& folder);

// "[..]" is offered wherever there is a level above: every folder but "/"
// and the empty text (the current directory).
bool HasParentEntry(const std::string& folder);

// The names of the folders inside folder ("" = the current directory),
// hidden ones included, files never; symbolic links to folders count as
// folders. "." and ".." and any name beginning ".." are left out. Sorted
// without regard to case. An unreadable folder gives none.
std::vector<std::string> ListSubFolders(const std::string& folder);

// The process's current directory, or "" when it cannot be read (for
// example when it has been removed).
std::string CurrentDirectory();

// The "drives": mount points of file systems that hold real files, each with
// a trailing "/", sorted and without repeats, read from the text of
// /proc/self/mounts. Kernel pseudo file systems (proc, sysfs, cgroup, devpts,
// ...) and everything mounted under /proc, /sys and /dev are left out; tmpfs
// elsewhere (/tmp, /run) holds real files and stays. usable(mountPoint) says
// whether the folder can be entered; those that cannot are left out.
std::vector<std::string> DrivesFromMounts(
    const std::string& mountsText, const std::function<bool(const std::string&)>& usable);

// The drives of this machine (from /proc/self/mounts); "/" alone when the
// table cannot be read.
std::vector<std::string> SystemDrives();

// The position in drives of the mount point holding an absolute folder: the
// longest entry that begins the folder text. -1 for a relative or empty text.
int DriveOf(const std::string& folder, const std::vector<std::string>& drives);

}  // namespace folders
