// The server's settings and its main window's rectangle in the registry key
// HKEY_CURRENT_USER\Software\Brellin\Vantry, and the RunOnce entry that
// brings the server back after the user's session ends.
#pragma once

#include "platform/registry_store.h"
#include "server/app/server_settings.h"

#include <cstdint>
#include <string>

// Where the server's registry lives: $XDG_CONFIG_HOME/Brellin/Vantry.reg.
std::string ServerStorePath();

struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The switches packed into "bDelete".
inline constexpr std::uint32_t kDeleteAlertMinimised = 0x002;
inline constexpr std::uint32_t kDeleteAllowTsize = 0x004;
inline constexpr std::uint32_t kDeleteAllowTimeout = 0x008;
inline constexpr std::uint32_t kDeleteNoSplash = 0x010;
inline constexpr std::uint32_t kDeleteRaisePriority = 0x020;
inline constexpr std::uint32_t kDeleteUseGraphic = 0x040;
inline constexpr std::uint32_t kDeleteMinimiseAtStart = 0x080;
inline constexpr std::uint32_t kDeleteHideMultihomed = 0x100;  // bShowMultihomed == 0

// Fills settings from the store; anything missing leaves its default.
void LoadSettings(platform::RegistryStore& store, ServerSettings& settings);
// Writes every setting. Failures are ignored.
void SaveSettings(platform::RegistryStore& store, const ServerSettings& settings);
// The main window's rectangle in screen coordinates.
void SaveWindowPlacement(platform::RegistryStore& store, const WindowRect& rect);
// True when a rectangle was saved ("WinLeft" exists).
bool LoadWindowPlacement(platform::RegistryStore& store, WindowRect& rect);
// The REG_SZ value "Vantrel" under ...\CurrentVersion\RunOnce := location.
void WriteRunOnce(platform::RegistryStore& store, const std::string& location);
