// Running the Qt event loop from a test until something has happened.
#pragma once

#include <functional>

namespace tests {

// Processes events until done() is true or timeoutMs has passed; returns done().
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Processes events for about ms milliseconds.
void RunFor(int ms);

}  // namespace tests
