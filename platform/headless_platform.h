// A program started where no display can be reached (over SSH, from a
// service manager, in a container) runs on the offscreen platform instead of
// aborting in the platform plugin's start-up.
#pragma once

namespace platform {

// Before the application object exists. When neither QT_QPA_PLATFORM nor a
// -platform argument chooses the platform: with no DISPLAY and no
// WAYLAND_DISPLAY the offscreen platform is chosen outright; otherwise the
// offscreen platform is named after the usual ones, so that a display that
// cannot be opened falls back to it. False when the user chose the platform.
bool PrepareOffscreenFallback(int argc, char** argv);

// After the application object exists: true when PrepareOffscreenFallback
// made the choice and the offscreen platform is the one in use.
bool FellBackToOffscreen(bool prepared);

// On the offscreen platform, the plugin's notices about window features it
// lacks say nothing to an operator: they are dropped, everything else passes.
void QuietOffscreenNotices();

}  // namespace platform
