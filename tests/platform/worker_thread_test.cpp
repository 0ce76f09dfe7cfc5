// Worker threads, thread priorities and the descriptor limit.
#include "platform/descriptor_limit.h"
#include "platform/priority.h"
#include "platform/worker_thread.h"
#include "tests/support/child_limits.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using platform::WorkerThread;

TEST(WorkerThread, RunsUntilAskedToQuit) {
    WorkerThread t;
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.IsRunning());
    EXPECT_NE(t.NativeId(), 0);
    EXPECT_NE(t.NativeId(), ::gettid());
    t.Quit();
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(t.NativeId(), 0);
}

TEST(WorkerThread, ManyStartAndEndCleanly) {
    std::vector<std::unique_ptr<WorkerThread>> threads;
    for (int i = 0; i < 50; ++i) {
        threads.push_back(std::make_unique<WorkerThread>());
        ASSERT_TRUE(threads.back()->Start());
    }
    threads.clear();  // destruction quits and joins each
    SUCCEED();
}

TEST(WorkerThread, StartFailsAtOnceWhenNoThreadCanBeHad) {
    // In a child process of its own: it cannot create threads any more.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(10);  // a Start that waits for ever ends here
            if (!tests::ForbidNewThreads()) ::_exit(2);
            WorkerThread t;
            const bool started = t.Start();
            ::_exit(!started && !t.IsRunning() && t.NativeId() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DescriptorLimit, SoftLimitIsRaisedToTheHardLimit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            tests::SetDescriptorLimit(64);
            rlimit limit{};
            const bool raised = platform::RaiseDescriptorLimit() && ::getrlimit(RLIMIT_NOFILE, &limit) == 0;
            ::_exit(raised && limit.rlim_cur == limit.rlim_max && limit.rlim_max > 64 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Priority, AThreadsNiceValueCanBeRaisedAndRead) {
    WorkerThread t;
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(platform::SetThreadNice(t.NativeId(), platform::kNiceBelowNormal));
    EXPECT_EQ(platform::ThreadNice(t.NativeId()), platform::kNiceBelowNormal);
    // Other threads keep theirs.
    EXPECT_NE(platform::ThreadNice(platform::CurrentThreadId()), platform::kNiceBelowNormal);
    EXPECT_FALSE(platform::SetThreadNice(0, 0));
}

TEST(Priority, ProcessNiceReachesEveryThread) {
    const int before = platform::ThreadNice(platform::CurrentThreadId());
    WorkerThread t;
    ASSERT_TRUE(t.Start());
    platform::SetProcessNice(before + 1);
    EXPECT_EQ(platform::ThreadNice(t.NativeId()), before + 1);
    EXPECT_EQ(platform::ThreadNice(platform::CurrentThreadId()), before + 1);
    // Going back down needs privilege; as root in CI it works.
    if (::geteuid() == 0) {
        EXPECT_TRUE(platform::SetProcessNice(before));
        EXPECT_EQ(platform::ThreadNice(platform::CurrentThreadId()), before);
    }
}
