// The file name a client asks for, made into a path inside the folder it is
// served from or stored into. The name is the client's; the folder is the
// administrator's, and the name never leads out of it.
//
// Boot loaders and Windows-built menus write names as they would on their own
// systems: "/pxelinux.0", "//boot/x", "boot\x". Here, as on Windows where a
// name is appended to "C:\tftp\", a backslash separates folders like a slash,
// and leading or doubled separators are dropped: all three name files below
// the folder. "/etc/passwd" therefore means etc/passwd inside the folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tftp {

// The requested name as a path relative to its folder, with '/' between its
// parts. Refused (nothing) when a part is ".." (in any spelling: "..\x",
// "a/../../x", "a\..\..\x", a trailing ".."), when no part is left ("", "/"),
// or when the name holds a NUL. A trailing separator is kept, so that a name
// of a folder still names a folder. A name of ordinary parts with single '/'
// between them comes back unchanged.
std::optional<std::string> NameInFolder(std::string_view requested);

// The folder text with the relative path appended: directly when the text
// ends with '/' (as the options pages leave it) or is empty (the working
// folder), after a '/' otherwise.
std::string FileInFolder(std::string_view folder, std::string_view relative);

}  // namespace tftp
