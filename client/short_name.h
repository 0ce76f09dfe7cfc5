// The short 8.3 form of a remote file name, for servers that only take such
// names ("Truncate long filenames").
#pragma once

#include <string>
#include <string_view>

// Up to 8 letters and digits of the name before its first '.', then '.' and
// up to 3 characters after the next '.' as they are; the '.' only when
// something follows it. Only ASCII letters and digits count: other bytes,
// those above 127 included, are dropped from the base. In the extension a
// UTF-8 character counts as one and is never cut in half.
std::string ShortName(std::string_view name);
