#include "socket_library.h"

#include <climits>
#include <sys/resource.h>

namespace platform {

bool StartSocketLibrary(SocketLibraryInfo& info) {
    info.maxUdpDatagram = 65507;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        info.maxSockets = limit.rlim_cur > static_cast<rlim_t>(INT_MAX)
                              ? INT_MAX
                              : static_cast<int>(limit.rlim_cur);
    else
        info.maxSockets = INT_MAX;
    return true;
}

}  // namespace platform
