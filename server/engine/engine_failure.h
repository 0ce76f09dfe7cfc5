// What the engine could not do that the user is to hear of. The engine has
// already done what it could (the transfer goes on, or has ended with an
// ERROR to its client); the application decides how to tell it, once the
// engine's work has returned.
#pragma once

enum class EngineFailure {
    TransferNotifications,  // a transfer's socket gives no read notifications
    TransferBuffers,        // no memory for a transfer's buffers
};
