// How the engine tells the display what happens to each transfer: five
// messages, each carrying the transfer number and a pointer to the one
// notice record that the sender filled just before.
#pragma once

#include <cstdint>
#include <string>

struct TransferNotice {
    std::string Text;
    int Failed = 0;               // result: 1 = timed out
    std::int64_t BytesDone = 0;   // status: bytes acknowledged so far
    std::int64_t BytesTotal = 0;  // status: total size; 0 = show Text instead
};

// Window message numbers (WM_USER + 1 ... + 5).
enum TransferMessage : int {
    WM_TRANSFER_ENDED = 1025,
    WM_TRANSFER_STARTED = 1026,
    WM_TRANSFER_FILE = 1027,
    WM_TRANSFER_STATUS = 1028,
    WM_TRANSFER_RESULT = 1029,
};

// The receiver of the messages: the transfer list of the main window, or a
// recording fake in tests. Called synchronously on the thread that drives
// the transfers; notice is null for WM_TRANSFER_ENDED.
class TransferView {
public:
    virtual ~TransferView() = default;
    virtual void OnTransferMessage(int message, int number, TransferNotice* notice) = 0;
};
