// What the options sheet asks of the server program when settings are accepted.
#pragma once

class COptionsHost { public: virtual ~COptionsHost() = default; virtual void OnPortChanged() = 0; virtual void ApplyProcessPriority() = 0; virtual int LocalAddressCount() const = 0; };
