// The address patterns of the server's allow and deny lists, matched against
// a client's address text.
#pragma once

#include <string>

// One pattern against one address text (dotted IPv4 or short IPv6):
//  - "a.b.c.d/n" or "2001:db8::/32": a prefix of that many leading bits;
//  - an IPv6 address ("2001:db8::7"): that address alone;
//  - otherwise up to four fields split by "."; a field holding "*" matches
//    any number, else its digits make the number (other characters ignored;
//    empty or missing is 0). Such a pattern matches IPv4 addresses only.
// An empty pattern, or a prefix or IPv6 address that does not parse,
// matches nothing.
bool MatchesAddressPattern(const std::string& pattern, const std::string& address);
