#include "transfer_rows.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Bytes of text from position i that are a control character, and how many.
// 0 when text[i] starts an ordinary character.
std::size_t ControlAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return 1;
    if (c == 0xC2 && i + 1 < text.size()) {
        const auto d = static_cast<unsigned char>(text[i + 1]);
        if (d >= 0x80 && d <= 0x9F) return 2;  // U+0080..U+009F
    }
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
        const auto e = static_cast<unsigned char>(text[i + 2]);
        if (e == 0xA8 || e == 0xA9) return 3;  // U+2028, U+2029
    }
    return 0;
}

}  // namespace

bool IsVisibleText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (ControlAt(text, i)) return false;
    return true;
}

std::string VisibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 4);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = ControlAt(text, i);
        if (n == 0) {
            out += text[i++];
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 1) {
            out += '^';
            out += c == 0x7F ? '?' : static_cast<char>(c + 0x40);
        } else {
            out += '?';
        }
        i += n;
    }
    return out;
}

void AssignVisible(std::string& out, std::string_view text) {
    if (IsVisibleText(text)) {
        if (out != text) out.assign(text.data(), text.size());
    } else {
        out = VisibleText(text);
    }
}

std::string FormatRowTime(std::int64_t seconds) {
    if (seconds == kNoTime) return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d %s, %02d:%02d", local.tm_mday,
                  kMonths[(local.tm_mon % 12 + 12) % 12], local.tm_hour, local.tm_min);
    return buf;
}

std::string TransferRow::StatusText() const {
    if (!progress) return statusText;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%%%" PRId64 ", %" PRId64, percent, bytesDone);
    return buf;
}

int TransferRow::GraphicValue() const {
    char buf[32];
    const char* text = buf;
    if (progress) std::snprintf(buf, sizeof buf, "%%%" PRId64, percent);
    else text = statusText.c_str();
    if (text[0] != '%') return 0;
    int value = 0;
    for (int i = 1; i <= 3 && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
    return value == 0 ? 1 : value;
}

void TransferRow::SetProgress(std::int64_t done, std::int64_t total) {
    // Truncated toward zero, as the integer conversion of the percentage does.
    double p = 100.0 / static_cast<double>(total) * static_cast<double>(done);
    if (!(p == p)) p = 0;  // NaN
    if (p > static_cast<double>(INT_MAX)) p = INT_MAX;
    if (p < static_cast<double>(INT_MIN)) p = INT_MIN;
    percent = static_cast<std::int64_t>(p);
    bytesDone = done;
    progress = true;
}

void TransferRow::SetStatusText(std::string_view text) {
    progress = false;
    AssignVisible(statusText, text);
}

std::string LogLine(const TransferRow& row) {
    std::string line;
    line.reserve(row.client.size() + row.file.size() + row.result.size() + 40);
    line += row.client;
    line += ' ';
    line += row.file;
    line += ' ';
    line += FormatRowTime(row.start);
    line += ' ';
    line += FormatRowTime(row.finish);
    line += ' ';
    line += row.result;
    line += "\r\n";
    return line;
}

bool AppendRowToLog(const std::string& logFile, const TransferRow& row, int* error) {
    std::FILE* f = std::fopen(logFile.c_str(), "ab");
    if (!f) {
        if (error) *error = errno;
        return false;
    }
    const std::string line = LogLine(row);
    errno = 0;
    const bool written = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    int reason = errno;
    // A full disk shows only when the buffer is written out, at the close.
    const bool closed = std::fclose(f) == 0;
    if (!closed && reason == 0) reason = errno;
    if (written && closed) return true;
    if (error) *error = reason != 0 ? reason : EIO;
    return false;
}
