// Idle processing: counts, resets by events, and pacing.
#include "platform/idle_driver.h"
#include "tests/support/event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using platform::IdleDriver;

TEST(IdleDriver, CountsUpWhileMoreIsWantedAndStopsWhenNot) {
    std::vector<long> counts;
    IdleDriver driver([&](long count) {
        counts.push_back(count);
        return count < 4;
    });
    driver.Start();
    tests::RunFor(100);
    ASSERT_EQ(counts.size(), 5u);
    for (long i = 0; i < 5; ++i) EXPECT_EQ(counts[static_cast<std::size_t>(i)], i);
}

TEST(IdleDriver, AnEventResetsTheCountAndRestartsIdleCalls) {
    std::vector<long> counts;
    IdleDriver driver([&](long count) {
        counts.push_back(count);
        return count < 2;
    });
    driver.Start();
    tests::RunFor(50);
    ASSERT_EQ(counts.size(), 3u);
    QObject receiver;
    QMetaObject::invokeMethod(&receiver, [] {}, Qt::QueuedConnection);
    tests::RunFor(50);
    ASSERT_EQ(counts.size(), 6u);
    EXPECT_EQ(counts[3], 0);
    EXPECT_EQ(counts[5], 2);
}

TEST(IdleDriver, AHandlerThatAlwaysWantsMoreIsPaced) {
    IdleDriver driver([](long) { return true; });
    driver.Start();
    QElapsedTimer t;
    t.start();
    tests::RunFor(300);
    const double perMs = static_cast<double>(driver.CallsMade()) / static_cast<double>(t.elapsed());
    // About one call a millisecond: far from a spinning loop's hundreds.
    EXPECT_LT(perMs, 3.0);
    EXPECT_GT(driver.CallsMade(), 50);
}

TEST(IdleDriver, StopEndsTheCalls) {
    long calls = 0;
    IdleDriver driver([&](long) {
        ++calls;
        return true;
    });
    driver.Start();
    tests::RunFor(20);
    driver.Stop();
    const long before = calls;
    tests::RunFor(30);
    EXPECT_EQ(calls, before);
}
