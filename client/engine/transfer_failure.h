// What stopped a client transfer, or its start, that the user is to hear
// of. The transfer reports it; the view decides how to tell it.
#pragma once

#include <string>

struct TransferFailure {
    enum class What {
        None,
        NoPort,                  // no socket on the local address
        NoReadNotifications,     // the socket gives no read notifications
        CannotOpenFile,          // the file to send
        CannotCreateFile,        // the file to fetch into (path)
        CannotWriteFile,         // a fetched block could not be written
        CannotSendRequest,       // a send's request did not go out (error)
        CannotSendFetchRequest,  // a fetch's request did not go out (error)
        NoBuffers,               // no memory for the packet buffer
        SocketBuffersRefused,    // the socket takes no buffer for the block size
    };
    What what = What::None;
    int error = 0;     // the socket's error number, for a request that did not go out
    std::string path;  // the file, for one that could not be created
};
