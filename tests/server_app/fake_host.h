// Stand-ins for the application around the transfer list and the main
// window, so that they can be driven without a listener.
#pragma once

#include "platform/clock.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/display_host.h"
#include "server/app/main_frame.h"
#include "server/app/server_settings.h"

#include <optional>
#include <vector>

class FakeHost : public DisplayHost {
public:
    ServerSettings& Settings() override { return settings; }
    platform::Clock& WallClock() override { return clock; }
    platform::PromptService& Prompts() override { return prompts; }
    void SweepTransfers() override {
        ++sweeps;
        if (onSweep) onSweep();
    }
    int TransferCount() override { return transfers; }
    void ClearIdleCheck() override { idleCheckCleared = true; }
    bool LoadWindowPlacement(WindowRect& rect) override {
        if (!placement) return false;
        rect = *placement;
        return true;
    }
    void SaveWindowPlacement(const WindowRect& rect) override { saved.push_back(rect); }

    ServerSettings settings;
    platform::ManualClock clock{1'000'000'000};  // 2001-09-09 01:46:40 UTC
    platform::ScriptedPromptService prompts;
    int transfers = 0;
    int sweeps = 0;
    std::function<void()> onSweep;
    bool idleCheckCleared = false;
    std::optional<WindowRect> placement;
    std::vector<WindowRect> saved;
};

class FakeApp : public AppCommands {
public:
    void OnAppCommand(int id) override { commands.push_back(id); }
    bool IsAppCommandEnabled(int) const override { return true; }
    void OnMainFrameClosed() override { closed = true; }

    std::vector<int> commands;
    bool closed = false;
};
