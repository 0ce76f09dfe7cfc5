// Idle processing: counts, resets by events, and pacing.
#include "platform/idle_driver.h"
#include "tests/support/event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(IdleDriver, EventsBetweenCallsSlowThemToTheBusyPaceUntilTheyStop) {
    long highest = 0;
    IdleDriver driver([&](long count) {
        highest = std::max(highest, count);
        return true;
    }, 1, 25);
    driver.Start();
    // An event every 2 ms: each call follows events, so the next waits 25 ms.
    QTimer events;
    events.start(2);
    QElapsedTimer t;
    t.start();
    tests::RunFor(300);
    events.stop();
    const long busyCalls = driver.CallsMade();
    EXPECT_LE(busyCalls, static_cast<long>(t.elapsed() / 25 + 3)) << "calls at the busy pace";
    EXPECT_EQ(highest, 0) << "every call followed an event";
    // Quiet again: back to one call a millisecond, so the count soon climbs
    // past 64 (at the busy pace that would take 1.6 s).
    highest = 0;
    EXPECT_TRUE(tests::RunUntil([&] { return highest >= 64; }, 1000));
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
