#include "short_name.h"

namespace {

bool IsAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string ShortName(std::string_view name) {
    std::string out;
    std::size_t pos = 0;
    int copied = 0;
    while (pos < name.size() && name[pos] != '.' && copied < 8) {
        if (IsAsciiLetterOrDigit(name[pos])) {
            out += name[pos];
            ++copied;
        }
        ++pos;
    }
    const std::size_t dot = name.find('.', pos);
    if (dot == std::string_view::npos || dot + 1 >= name.size()) return out;
    out += '.';
    // Three characters as they are; a character of several UTF-8 bytes is
    // taken whole, never cut.
    std::size_t end = dot + 1;
    for (int chars = 0; chars < 3 && end < name.size(); ++chars) {
        ++end;
        while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
    }
    out += name.substr(dot + 1, end - dot - 1);
    return out;
}
