// What ties a program's windows to its desktop entry: the icon every window
// carries and, for Wayland, the desktop file's name.
#pragma once

namespace platform {

// desktopId: the desktop file's name without ".desktop"; iconName: the icon
// compiled in as :/icons/SIZExSIZE/iconName.png in the usual sizes.
void SetDesktopIdentity(const char* desktopId, const char* iconName);

}  // namespace platform
