// Packet queues: order, filters, the 1000-entry rule, waiting, draining and destruction while
// other threads wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "aPacketFifo.h"

namespace {

using namespace std::chrono_literals;

struct PacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
using PacketPtr = std::unique_ptr<aPacket, PacketDeleter>;

class Fifo : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(queue, 0u); }
    void TearDown() override {
        if (queue) aPacketFifo_Destroy(&queue);
    }
    void put(uint8_t address, uint8_t tag = 0) {
        PacketPtr packet(aPacket_CreateWithData(address, 1, &tag));
        ASSERT_EQ(aPacketFifo_Put(queue, packet.get()), aErrNone);
    }
    uint64_t queue = aPacketFifo_Create();
};

uint8_t fromAddress(const aPacket* packet, void* reference) {
    return packet->address == *static_cast<uint8_t*>(reference);
}
uint8_t acceptAll(const aPacket*, void*) { return 1; }

TEST_F(Fifo, HandlesAreDistinctAndNonZero) {
    uint64_t other = aPacketFifo_Create();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, queue);
    EXPECT_EQ(aPacketFifo_Destroy(&other), aErrNone);
    EXPECT_EQ(other, 0u);
}

TEST_F(Fifo, PutCopiesAndGetKeepsOrder) {
    uint8_t tag = 1;
    PacketPtr mine(aPacket_CreateWithData(2, 1, &tag));
    ASSERT_EQ(aPacketFifo_Put(queue, mine.get()), aErrNone);
    mine->data[0] = 99;  // the queue holds its own copy
    put(4, 2);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 2u);
    PacketPtr first(aPacketFifo_Get(queue));
    PacketPtr second(aPacketFifo_Get(queue));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->data[0], 1);
    EXPECT_EQ(second->address, 4);
    EXPECT_EQ(aPacketFifo_Get(queue), nullptr);
}

TEST_F(Fifo, GetFirstTakesTheOldestMatchAndLeavesTheRest) {
    put(2, 1);
    put(6, 2);
    put(4, 3);
    put(6, 4);
    uint8_t six = 6;
    PacketPtr taken(aPacketFifo_GetFirst(queue, fromAddress, &six));
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->data[0], 2);
    std::vector<uint8_t> rest;
    while (PacketPtr p{aPacketFifo_Get(queue)}) rest.push_back(p->data[0]);
    EXPECT_EQ(rest, (std::vector<uint8_t>{1, 3, 4}));
}

TEST_F(Fifo, AwaitWithZeroTimeOutPolls) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aPacketFifo_Await(queue, 0), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    put(2);
    PacketPtr head(aPacketFifo_Await(queue, 0));
    EXPECT_TRUE(head);
}

TEST_F(Fifo, MoreThanAThousandEntriesDiscardsTheQueue) {
    for (int i = 0; i < aPACKETFIFO_CAPACITY; ++i) put(2);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 1000u);
    put(2);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 0u);
    put(2, 7);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 1u);
    uint8_t two = 2;
    PacketPtr again(aPacketFifo_AwaitFirst(queue, fromAddress, &two, 0));  // sequence bookkeeping holds
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data[0], 7);
}

TEST_F(Fifo, AwaitFirstTimesOutLeavingRejectedPacketsInOrder) {
    put(2, 1);
    put(4, 2);
    uint8_t six = 6;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aPacketFifo_AwaitFirst(queue, fromAddress, &six, 100), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    PacketPtr first(aPacketFifo_Get(queue));
    PacketPtr second(aPacketFifo_Get(queue));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->address, 2);
    EXPECT_EQ(second->address, 4);
}

TEST_F(Fifo, AwaitFirstReturnsAMatchPutWhileWaiting) {
    put(2);
    uint8_t six = 6;
    auto waiter = std::async(std::launch::async, [&] {
        return PacketPtr(aPacketFifo_AwaitFirst(queue, fromAddress, &six, 20000));
    });
    ASSERT_TRUE(hxtest::waitFor([&] { return waiter.wait_for(0ms) != std::future_status::ready; }));
    put(4);
    put(6, 9);
    const auto start = std::chrono::steady_clock::now();
    PacketPtr got = waiter.get();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->data[0], 9);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 2u);
}

// Counts how often each packet (by its tag) was offered to a filter that never accepts.
struct OfferCount {
    std::mutex mutex;
    std::map<uint8_t, int> offers;
};
uint8_t countOffers(const aPacket* packet, void* reference) {
    auto* count = static_cast<OfferCount*>(reference);
    std::lock_guard<std::mutex> lock(count->mutex);
    ++count->offers[packet->data[0]];
    return 0;
}

TEST_F(Fifo, EachPacketIsOfferedOncePerCallHoweverOftenTheWaiterWakes) {
    put(2, 0);
    OfferCount count;
    auto offered = [&](uint8_t tag) {
        std::lock_guard<std::mutex> lock(count.mutex);
        return count.offers.count(tag) > 0;
    };
    auto waiter = std::async(std::launch::async, [&] {
        return PacketPtr(aPacketFifo_AwaitFirst(queue, countOffers, &count, 3000));
    });
    // One put at a time, each seen before the next: the waiter wakes and rescans every time.
    ASSERT_TRUE(hxtest::waitFor([&] { return offered(0); }));
    for (uint8_t tag = 1; tag <= 20; ++tag) {
        put(2, tag);
        ASSERT_TRUE(hxtest::waitFor([&] { return offered(tag); }));
    }
    EXPECT_EQ(waiter.get(), nullptr);
    std::lock_guard<std::mutex> lock(count.mutex);
    ASSERT_EQ(count.offers.size(), 21u);
    for (const auto& [tag, offers] : count.offers) EXPECT_EQ(offers, 1) << "packet " << int(tag);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 21u);
}

TEST_F(Fifo, WaitersWithDifferentFiltersEachTakeTheirOwn) {
    constexpr int kPerWaiter = 50;
    std::vector<uint8_t> addresses{2, 4, 6};
    std::vector<std::future<int>> waiters;
    for (uint8_t& address : addresses) {
        waiters.push_back(std::async(std::launch::async, [&, ptr = &address] {
            int got = 0;
            while (got < kPerWaiter) {
                PacketPtr p(aPacketFifo_AwaitFirst(queue, fromAddress, ptr, 20000));
                if (!p) break;
                if (p->address != *ptr) return -1;
                ++got;
            }
            return got;
        }));
    }
    for (int i = 0; i < kPerWaiter; ++i)
        for (uint8_t address : addresses) put(address);
    for (auto& waiter : waiters) EXPECT_EQ(waiter.get(), kPerWaiter);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 0u);
}

uint8_t rejectAndCount(const aPacket*, void* reference) {
    ++*static_cast<std::atomic<int>*>(reference);
    return 0;
}

TEST_F(Fifo, DestroyWakesEveryWaiterAndRetiresTheHandle) {
    std::atomic<int> offers[2] = {0, 0};
    std::vector<std::future<PacketPtr>> waiters;
    for (auto& count : offers)
        waiters.push_back(std::async(std::launch::async, [&, counter = &count] {
            return PacketPtr(aPacketFifo_AwaitFirst(queue, rejectAndCount, counter, 60000));
        }));
    // Once both waiters have been offered a packet, both are inside their calls.
    put(2);
    ASSERT_TRUE(hxtest::waitFor([&] { return offers[0] > 0 && offers[1] > 0; }));
    const uint64_t old = queue;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(aPacketFifo_Destroy(&queue), aErrNone);
    EXPECT_EQ(queue, 0u);
    for (auto& waiter : waiters) EXPECT_EQ(waiter.get(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    uint8_t tag = 0;
    PacketPtr packet(aPacket_CreateWithData(2, 1, &tag));
    EXPECT_EQ(aPacketFifo_Put(old, packet.get()), aErrParam);
    uint64_t stale = old;
    EXPECT_EQ(aPacketFifo_Destroy(&stale), aErrNotFound);
    EXPECT_EQ(aPacketFifo_Await(old, 0), nullptr);
    EXPECT_EQ(aPacketFifo_GetLength(old), 0u);
}

TEST_F(Fifo, DestroyEndsAPlainAwait) {
    std::atomic<bool> calling{false};
    auto waiter = std::async(std::launch::async, [&] {
        calling = true;
        return PacketPtr(aPacketFifo_Await(queue, 60000));
    });
    ASSERT_TRUE(hxtest::waitFor([&] { return calling.load(); }));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(aPacketFifo_Destroy(&queue), aErrNone);
    EXPECT_EQ(waiter.get(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(Fifo, DrainRemovesWhatTheFilterAcceptsKeepingTheOrderOfTheRest) {
    for (uint8_t i = 0; i < 6; ++i) put(i % 2 ? 6 : 2, i);
    uint8_t six = 6;
    EXPECT_EQ(aPacketFifo_DrainPackets(queue, fromAddress, &six), 3u);
    std::vector<uint8_t> rest;
    while (PacketPtr p{aPacketFifo_Get(queue)}) rest.push_back(p->data[0]);
    EXPECT_EQ(rest, (std::vector<uint8_t>{0, 2, 4}));
    for (int i = 0; i < 5; ++i) put(2);
    EXPECT_EQ(aPacketFifo_DrainPackets(queue, acceptAll, nullptr), 5u);
    EXPECT_EQ(aPacketFifo_GetLength(queue), 0u);
    EXPECT_EQ(aPacketFifo_DrainPackets(0, acceptAll, nullptr), 0u);
}

TEST_F(Fifo, PutRefusesUnknownHandlesAndInvalidPackets) {
    aPacket forged{};
    EXPECT_EQ(aPacketFifo_Put(queue, &forged), aErrParam);
    EXPECT_EQ(aPacketFifo_Put(queue, nullptr), aErrParam);
    uint8_t tag = 0;
    PacketPtr packet(aPacket_CreateWithData(2, 1, &tag));
    EXPECT_EQ(aPacketFifo_Put(0, packet.get()), aErrParam);
    EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);
}

}  // namespace
