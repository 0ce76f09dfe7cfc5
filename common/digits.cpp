#include "digits.h"

#include <climits>

namespace tftp {

int LeadingDigits(std::string_view text) {
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace tftp
