// What the options sheet needs from the application besides the settings
// record: the port change procedure, the process priority, how many local
// addresses the host has (the multihomed switch only changes while there are
// several), the prompts, and what happens once the pages have written back.
#pragma once

namespace platform {
class PromptService;
}

class COptionsHost {
public:
    virtual ~COptionsHost() = default;

    // The port text in the settings has changed: restart the listener now,
    // or ask the user while transfers are running.
    virtual void OnPortChanged() = 0;
    // Applies the process priority class of bRaisePriority at once.
    virtual void ApplyProcessPriority() = 0;
    // Entries in the host's address list as the running listener found it.
    virtual int LocalAddressCount() const = 0;
    // Message boxes of the sheet (a refused entry).
    virtual platform::PromptService& Prompts() = 0;
    // OK or Apply: every shown page has written back. False when the server
    // is left without a listening port: the sheet then stays open.
    virtual bool OnSettingsAccepted() = 0;
};
