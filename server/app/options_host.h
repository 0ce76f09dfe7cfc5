// What the options sheet needs from the application besides the settings
// record: the port change procedure, the process priority, and how many
// local addresses the host has (the multihomed switch only changes while
// there are several).
#pragma once

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
};
