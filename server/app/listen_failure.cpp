#include "listen_failure.h"

#include "common/digits.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr int kTftpPort = 69;
constexpr int kMaxPort = 65535;
constexpr int kFirstFreePort = 1024;

}  // namespace

int ListeningPort(const std::string& portText) {
    const int port = tftp::LeadingDigits(portText);
    return port == 0 ? kTftpPort : port;
}

std::string ListenFailureText(const std::string& address, int port, int error, const std::string& program) {
    std::string text = "Unable to listen on " + address + " port " + std::to_string(port);
    if (port > kMaxPort) text += ": a port is a number from 1 to 65535";
    else if (error != 0) text += std::string(": ") + std::strerror(error);
    if (port < kFirstFreePort && (error == EACCES || error == EPERM)) {
        text += "\n\nOn Linux only a privileged program may listen on a port below 1024. Either give "
                "this one that right:\n    sudo setcap cap_net_bind_service=+ep " +
                program + "\nor choose a port from 1024 up (for example 6969) and tell the clients.";
    }
    return text;
}

const char* ListenFailureWords(ListenFailure failure) {
    switch (failure) {
    case ListenFailure::CannotBind: return "Unable to Create listening port";
    case ListenFailure::NoReadNotifications: return "Unable to Select local port mode";
    case ListenFailure::None:
    case ListenFailure::NoAddress: return nullptr;
    }
    return nullptr;
}

const char* EngineFailureText(EngineFailure failure) {
    switch (failure) {
    case EngineFailure::TransferNotifications: return "Error preparing local client function";
    case EngineFailure::TransferBuffers: return "Unable to allocate buffers for transfer";
    }
    return "";
}
