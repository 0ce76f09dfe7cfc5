// One row of the server's transfer list, and what is made of it: the texts
// of its cells, its line in the log file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Item values with a meaning of their own; 1..4999 is a running transfer.
inline constexpr std::int32_t kItemEnded = 0;
inline constexpr std::int32_t kItemFailed = -1;
inline constexpr std::int32_t kItemAbandoned = -2;

enum TransferColumn : int {
    kColumnClient = 0,
    kColumnFile,
    kColumnStatus,
    kColumnStart,
    kColumnFinish,
    kColumnResult,
    kColumnCount
};

inline constexpr std::int64_t kNoTime = INT64_MIN;

struct TransferRow {
    std::int32_t itemValue = 0;
    std::string client;
    std::string file;
    std::string result;
    // The Status column holds either a text or a progress value. Progress
    // arrives with every acknowledged block, so it is kept as numbers and
    // only turned into its text ("%51, 512") when the cell is shown.
    std::string statusText;
    bool progress = false;
    std::int64_t percent = 0;
    std::int64_t bytesDone = 0;
    std::int64_t start = kNoTime;   // seconds since the epoch
    std::int64_t finish = kNoTime;
    // Its end was a time-out: the result shows in red.
    bool timedOut = false;

    std::string StatusText() const;
    // The Status cell in graphic mode: the percentage its text starts with
    // ("%" and up to three digits, 0 counting as 1), or 0 when the text does
    // not start with "%" (then the cell is drawn as text).
    int GraphicValue() const;
    void SetProgress(std::int64_t done, std::int64_t total);
    // Sets the status text (made visible, see VisibleText).
    void SetStatusText(std::string_view text);
};

// The local time as "07 Dec, 13:21" (day, English month, 24-hour time); empty
// for kNoTime.
std::string FormatRowTime(std::int64_t seconds);

// Text from the network made safe for one line: control characters (which
// could break a log line in two or forge another) become visible stand-ins:
// "^J" for a line feed, "^M" for a carriage return, "^?" for DEL, and "?" for
// the C1 controls and the line and paragraph separators of UTF-8.
std::string VisibleText(std::string_view text);
bool IsVisibleText(std::string_view text);
// Assigns VisibleText(text) to out, without allocating when out already has
// room and text needs no change.
void AssignVisible(std::string& out, std::string_view text);

// The row's log line: Client, File, Start, Finish and Result joined by
// single blanks, ended by CR LF.
std::string LogLine(const TransferRow& row);

// Appends the row's line to the log file, creating the file when missing.
// False when the file cannot be opened or the line not written; error (when
// given) then holds the system's reason (errno).
bool AppendRowToLog(const std::string& logFile, const TransferRow& row, int* error = nullptr);
