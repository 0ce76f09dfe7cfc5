// Worker threads and thread priorities.
#include "platform/priority.h"
#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <memory>
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
