#include "service_notify.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

bool NotifyServiceManager(const std::string& state) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path) return false;
    const std::size_t length = std::strlen(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // "@name" is a name in the abstract namespace: a leading NUL byte.
    if ((path[0] != '/' && path[0] != '@') || length >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path, length);
    if (path[0] == '@') address.sun_path[0] = '\0';
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t sent;
    do {
        sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), size);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == static_cast<ssize_t>(state.size());
}

}  // namespace platform
