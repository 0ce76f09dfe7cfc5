// Numbers typed by users or stored as text (ports, time-outs, block sizes)
// are read as their leading decimal digits: reading stops at the first other
// character, and no digit at the start gives 0.
#pragma once

#include <string_view>

namespace tftp {

// A digit run too long for an int gives the largest int (2147483647) rather
// than wrapping, so an absurd entry stays absurdly large.
int LeadingDigits(std::string_view text);

}  // namespace tftp
