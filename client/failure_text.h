// What the client tells the user of a failed transfer or start, in its own
// fixed words.
#pragma once

#include "client/engine/transfer_failure.h"

#include <string>

// The message box text; empty for no failure.
std::string TransferFailureText(const TransferFailure& failure);
