// The process's limit on open descriptors. Each transfer holds a socket and
// a file, so a server with many clients needs more than the usual soft
// limit of 1024.
#pragma once

namespace platform {

// Raises the soft limit on open descriptors to the hard limit. False when
// it could not be raised (the old limit stays).
bool RaiseDescriptorLimit();

}  // namespace platform
