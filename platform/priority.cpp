#include "priority.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

pid_t CurrentThreadId() { return ::gettid(); }

bool SetThreadNice(pid_t tid, int nice) {
    if (tid <= 0) return false;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

int ThreadNice(pid_t tid) {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return errno != 0 ? 0 : value;
}

bool SetProcessNice(int nice) {
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return SetThreadNice(::getpid(), nice);
    bool all = true;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const pid_t tid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (!SetThreadNice(tid, nice)) all = false;
    }
    ::closedir(dir);
    return all;
}

}  // namespace platform
