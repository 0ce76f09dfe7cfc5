#include "failure_text.h"

std::string TransferFailureText(const TransferFailure& failure) {
    using What = TransferFailure::What;
    switch (failure.what) {
    case What::None: return {};
    case What::NoPort: return "Unable to Create port";
    case What::NoReadNotifications: return "Unable to Select local port mode";
    case What::CannotOpenFile: return "Unable to open file";
    case What::CannotCreateFile: return "Unable to create file : " + failure.path;
    case What::CannotWriteFile: return "Error writing to local file";
    case What::CannotSendRequest: return "Error sending to host : " + std::to_string(failure.error);
    case What::CannotSendFetchRequest: return "Client : Error sending to host : " + std::to_string(failure.error);
    case What::NoBuffers: return "Unable to allocate buffers for transfer";
    case What::SocketBuffersRefused: return "Block size settings not valid for sockets";
    }
    return {};
}
