// Binding to a port of a fixed range on loopback: the first free one from
// the starting port, round to the start, and a full range refused.
#include "platform/port_range_socket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

using platform::AsyncUdpSocket;

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr int kWidth = 4;

// A run of kWidth ports nothing on this host holds now, below the system's
// own choices (so another test's socket is unlikely to take one meanwhile).
int FreeRun() {
    for (int base = 20000 + (::getpid() % 500) * 8; base < 32000; base += kWidth) {
        std::vector<std::unique_ptr<AsyncUdpSocket>> probe;
        bool free = true;
        for (int i = 0; i < kWidth && free; ++i) {
            probe.push_back(std::make_unique<AsyncUdpSocket>());
            free = probe.back()->Create(kLoopback, static_cast<std::uint16_t>(base + i), false);
        }
        if (free) return base;
    }
    return 0;
}

}  // namespace

TEST(PortRangeSocket, TakesTheFirstFreePortFromTheStartRoundToTheRangesBeginning) {
    const int low = FreeRun();
    ASSERT_NE(low, 0) << "no free run of ports on loopback";
    const int high = low + kWidth - 1;
    struct Case {
        const char* what;
        std::vector<int> held;  // offsets from low held by other sockets
        int from;               // offset from low; -1: below the range
        int port;               // offset taken; -1: refused
    };
    const Case cases[] = {
        {"all free", {}, 0, 0},
        {"the first held", {0}, 0, 1},
        {"from the middle", {}, 2, 2},
        {"past held ports", {1, 2}, 1, 3},
        {"round to the start", {3}, 3, 0},
        {"round past held ones", {0, 3}, 3, 1},
        {"a start outside the range", {}, -1, 0},
        {"every port held", {0, 1, 2, 3}, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<AsyncUdpSocket>> others;
        for (const int offset : c.held) {
            others.push_back(std::make_unique<AsyncUdpSocket>());
            ASSERT_TRUE(others.back()->Create(kLoopback, static_cast<std::uint16_t>(low + offset), false));
        }
        AsyncUdpSocket socket;
        const int from = c.from < 0 ? low - 1 : low + c.from;
        const bool created = platform::CreateInPortRange(socket, kLoopback, low, high, from, false);
        if (c.port < 0) {
            EXPECT_FALSE(created);
            EXPECT_FALSE(socket.IsOpen());
            EXPECT_EQ(socket.LastError(), EADDRINUSE);
        } else {
            ASSERT_TRUE(created) << socket.LastError();
            EXPECT_EQ(socket.LocalPort(), low + c.port);
        }
    }
}

TEST(PortRangeSocket, AnAddressThatIsNotLocalIsRefusedForItsOwnReason) {
    AsyncUdpSocket socket;
    // 192.0.2.1 (documentation range) is no address of this host.
    EXPECT_FALSE(platform::CreateInPortRange(socket, "192.0.2.1", 20000, 30000, 20000, false));
    EXPECT_EQ(socket.LastError(), EADDRNOTAVAIL);
}

TEST(PortRangeSocket, NoSoundRangeLeavesThePortToTheSystem) {
    AsyncUdpSocket socket;
    ASSERT_TRUE(platform::CreateInPortRange(socket, kLoopback, 3000, 2000, 2500, false));
    EXPECT_NE(socket.LocalPort(), 0);
}
