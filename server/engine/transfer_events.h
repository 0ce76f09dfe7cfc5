// What the engine tells the display about each transfer: five events, each a
// value that carries what it says, queued to the display and handled after
// the engine's current work has returned. The names are those of the window
// messages they once were.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

// A request was admitted: a new row for the client.
struct TransferStarted {
    int number = 0;
    std::string client;  // the client's address as text
};

// The request was taken in hand: the file it names, folder included.
struct TransferFile {
    int number = 0;
    std::string path;
    std::string requested{};  // the name asked for, when a rule rewrote it; else empty
};

// Blocks went through. With total 0 (no size known: an upload, a retry)
// the row shows text instead of a percentage.
struct TransferProgress {
    int number = 0;
    std::int64_t bytes = 0;  // acknowledged (read request) or written (write request)
    std::int64_t total = 0;
    std::string text;
};

// The transfer has ended; it is reported next.
struct TransferEnded {
    int number = 0;
    bool timedOut = false;
};

// How it ended: "Finished : Sending", the error text, "TimedOut : Receiving".
struct TransferResult {
    int number = 0;
    std::string text;
};

using TransferEvent =
    std::variant<TransferStarted, TransferFile, TransferProgress, TransferEnded, TransferResult>;

// The window message numbers (WM_USER + 1 ... + 5) the events stand for.
enum TransferMessage : int {
    WM_TRANSFER_ENDED = 1025,
    WM_TRANSFER_STARTED = 1026,
    WM_TRANSFER_FILE = 1027,
    WM_TRANSFER_STATUS = 1028,
    WM_TRANSFER_RESULT = 1029,
};

inline TransferMessage MessageOf(const TransferEvent& event) {
    struct Name {
        TransferMessage operator()(const TransferStarted&) const { return WM_TRANSFER_STARTED; }
        TransferMessage operator()(const TransferFile&) const { return WM_TRANSFER_FILE; }
        TransferMessage operator()(const TransferProgress&) const { return WM_TRANSFER_STATUS; }
        TransferMessage operator()(const TransferEnded&) const { return WM_TRANSFER_ENDED; }
        TransferMessage operator()(const TransferResult&) const { return WM_TRANSFER_RESULT; }
    };
    return std::visit(Name{}, event);
}

inline int NumberOf(const TransferEvent& event) {
    return std::visit([](const auto& e) { return e.number; }, event);
}

// The receiver of the events: the transfer list of the main window, or a
// recording fake in tests. Called on the thread that owns the engine, from
// its event loop, never from inside the engine's own work.
class TransferView {
public:
    virtual ~TransferView() = default;
    virtual void OnTransferEvent(const TransferEvent& event) = 0;
};
