// The messages a client transfer posts to its view.
#pragma once

#include "platform/posted_messages.h"

// wParam 0: a transfer starts, lParam its total size; 1 (send) or 2 (fetch):
// lParam bytes done so far; 3: the whole file has gone, lParam its bytes.
inline constexpr int WM_TRANSFER_PROGRESS = platform::WM_USER + 1;
// lParam: the block size the socket buffer allowed.
inline constexpr int WM_TRANSFER_BLOCKSIZE = platform::WM_USER + 2;
// The transfer has chosen its local address (read it from localAddress).
inline constexpr int WM_TRANSFER_ADDRESS = platform::WM_USER + 3;

inline constexpr int kProgressStart = 0;
inline constexpr int kProgressSent = 1;
inline constexpr int kProgressReceived = 2;
inline constexpr int kProgressDone = 3;
