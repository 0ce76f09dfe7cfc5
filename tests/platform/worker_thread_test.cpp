// Worker threads, thread priorities and the descriptor limit.
#include "platform/descriptor_limit.h"
#include "platform/priority.h"
#include "platform/spin_allowance.h"
#include "platform/worker_thread.h"
#include "tests/support/child_limits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sys/resource.h>
#include <thread>
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

namespace {

// Waits on a pipe, asking to poll for spinUs first; counts what it reads.
class PipeOwner : public WorkerThread::Owner {
public:
    PipeOwner(int spinUs, platform::SpinAllowance& spinners) : spinUs_(spinUs), spinners_(spinners) {
        EXPECT_EQ(::pipe(fds_), 0);
    }
    ~PipeOwner() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    Wait NextWait() override { return Wait{fds_[0], -1, spinUs_, &spinners_}; }
    void Serve(bool readable) override {
        char byte;
        if (readable && ::read(fds_[0], &byte, 1) == 1) served.fetch_add(1);
    }
    void Feed() { EXPECT_EQ(::write(fds_[1], "x", 1), 1); }
    bool AwaitServed(int count) const {
        for (int i = 0; i < 2000 && served.load() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return served.load() >= count;
    }
    std::atomic<int> served{0};

private:
    int fds_[2];
    const int spinUs_;
    platform::SpinAllowance& spinners_;
};

// Whether the thread holds the allowance's one place (it is polling).
bool Polling(platform::SpinAllowance& spinners) {
    if (!spinners.Take()) return true;
    spinners.Give();
    return false;
}

}  // namespace

TEST(WorkerThread, PollsForABurstInsideTheAllowanceAndStillQuitsAtOnce) {
    platform::SpinAllowance one(1);
    PipeOwner owner(10'000'000, one);  // polls for up to 10 s
    WorkerThread t;
    ASSERT_TRUE(t.Start(&owner));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(Polling(one));
    owner.Feed();
    EXPECT_TRUE(owner.AwaitServed(1));
    // Served from the poll, and polling again for the next.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(Polling(one));
    ::alarm(5);  // a Quit that is not heard ends the test here
    t.Quit();    // woken out of the poll, not after its 10 s
    ::alarm(0);
    EXPECT_FALSE(Polling(one));

    // No room in the allowance: it sleeps, and is woken by what comes.
    platform::SpinAllowance none(0);
    PipeOwner sleeper(10'000'000, none);
    WorkerThread u;
    ASSERT_TRUE(u.Start(&sleeper));
    sleeper.Feed();
    EXPECT_TRUE(sleeper.AwaitServed(1));
}

TEST(WorkerThread, StopsPollingWhenTheGapsOutlastItsBudget) {
    platform::SpinAllowance one(1);
    PipeOwner owner(200'000, one);  // 200 ms
    WorkerThread t;
    ASSERT_TRUE(t.Start(&owner));
    // Two gaps of 300 ms: a link slower than the budget. It then sleeps.
    for (int i = 1; i <= 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        owner.Feed();
        ASSERT_TRUE(owner.AwaitServed(i));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(Polling(one));
    // Quick arrivals again: it polls again.
    for (int i = 3; i <= 4; ++i) {
        owner.Feed();
        ASSERT_TRUE(owner.AwaitServed(i));
    }
    EXPECT_TRUE(Polling(one));
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
