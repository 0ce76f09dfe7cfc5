// Whether a file name a client asked for stays inside the folder it is
// appended to. The name is the client's; the folder is the administrator's.
#pragma once

#include <string_view>

// False for an absolute name (leading '/') and for a name with a ".."
// component: such names would reach files outside the folder. A backslash
// is an ordinary character here.
bool StaysInFolder(std::string_view name);
