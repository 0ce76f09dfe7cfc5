// Shortages made on purpose, for tests that run in a child process of their
// own (a gtest death test) so that the test runner never suffers them: no
// new thread can be created, or only a given number of descriptors is left.
#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tests {

// From now on every clone (so every new thread) of this process fails with
// EAGAIN, as when the system has no thread left to give. False when the
// kernel refused the filter.
inline bool ForbidNewThreads() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Lowers the soft descriptor limit so that exactly spare more descriptors
// can be opened. Returns the old soft limit (0 on failure).
inline rlim_t LeaveSpareDescriptors(int spare) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    const rlim_t old = limit.rlim_cur;
    // New descriptors take the lowest free numbers below the limit.
    const int lowestFree = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    if (lowestFree < 0) return 0;
    ::close(lowestFree);
    rlim_t wanted = static_cast<rlim_t>(lowestFree);
    for (int free = 0; free < spare; ++wanted) {
        if (::fcntl(static_cast<int>(wanted), F_GETFD) < 0) ++free;
    }
    limit.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? old : 0;
}

inline void SetDescriptorLimit(rlim_t soft) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace tests
