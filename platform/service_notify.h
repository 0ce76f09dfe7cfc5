// Tells the service manager (systemd, Type=notify) how the service is doing:
// one datagram to the socket named by NOTIFY_SOCKET. Without that variable
// nothing is sent.
#pragma once

#include <string>

namespace platform {

// state: newline-separated assignments such as "READY=1" or "STOPPING=1".
// True when the datagram went out; false without a manager or on failure.
bool NotifyServiceManager(const std::string& state);

}  // namespace platform
