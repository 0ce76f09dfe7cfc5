// Thread and process priorities as nice values. On Linux a nice value belongs
// to one thread, so a process-wide class is applied to every thread.
#pragma once

#include <sys/types.h>

namespace platform {

inline constexpr int kNiceBelowNormal = 5;
inline constexpr int kNiceNormal = 0;
inline constexpr int kNiceAboveNormal = -5;
inline constexpr int kNiceHighClass = -10;

pid_t CurrentThreadId();
// Sets one thread's nice value. False when refused (lowering the value needs
// privilege); callers ignore a refusal.
bool SetThreadNice(pid_t tid, int nice);
// The nice value of one thread, or 0 when it cannot be read.
int ThreadNice(pid_t tid);
// Sets the nice value of every thread of the process (those started later
// inherit it from the thread that starts them). False when any was refused.
bool SetProcessNice(int nice);

}  // namespace platform
