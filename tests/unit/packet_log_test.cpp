// The packet log ring: eviction of the oldest records, refusal of records that cannot fit.
#include <gtest/gtest.h>

#include <vector>

#include "aPacketLog.h"

namespace {

struct LogDeleter {
    void operator()(aPacketLog* log) const { aPacketLog_Destroy(&log); }
};
using LogPtr = std::unique_ptr<aPacketLog, LogDeleter>;

struct Record {
    uint8_t tag;
    std::vector<uint8_t> content;
};

std::vector<Record> drain(aPacketLog* log) {
    std::vector<Record> records;
    for (;;) {
        uint8_t tag = 0;
        uint8_t buffer[255];
        uint32_t length = sizeof buffer;
        if (aPacketLog_Get(log, &tag, &length, buffer) != aErrNone) return records;
        records.push_back({tag, std::vector<uint8_t>(buffer, buffer + length)});
    }
}

TEST(PacketLog, RecordsComeBackInOrder) {
    LogPtr log(aPacketLog_Create(64));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->enabled, 0);
    const uint8_t a[] = {2, 1, 5};
    const uint8_t b[] = {'h', 'i'};
    ASSERT_EQ(aPacketLog_Put(log.get(), aPACKETLOG_SENT, 3, a), aErrNone);
    ASSERT_EQ(aPacketLog_Put(log.get(), aPACKETLOG_MARKER, 2, b), aErrNone);
    const auto records = drain(log.get());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].tag, aPACKETLOG_SENT);
    EXPECT_EQ(records[0].content, std::vector<uint8_t>(a, a + 3));
    EXPECT_EQ(records[1].tag, aPACKETLOG_MARKER);
    EXPECT_EQ(records[1].content, std::vector<uint8_t>(b, b + 2));
    uint8_t tag;
    uint32_t length = 8;
    uint8_t buffer[8];
    EXPECT_EQ(aPacketLog_Get(log.get(), &tag, &length, buffer), aErrNotFound);
}

TEST(PacketLog, SixteenByteRingRefusesFourteenAndEvictsForThirteen) {
    LogPtr log(aPacketLog_Create(16));
    const std::vector<uint8_t> content(14, 0x5A);
    ASSERT_EQ(aPacketLog_Put(log.get(), 2, 3, content.data()), aErrNone);
    EXPECT_EQ(aPacketLog_Put(log.get(), 2, 14, content.data()), aErrOverrun);
    ASSERT_EQ(aPacketLog_Put(log.get(), 1, 13, content.data()), aErrNone);

    uint8_t tag = 0;
    uint8_t buffer[16];
    uint32_t length = 12;
    EXPECT_EQ(aPacketLog_Get(log.get(), &tag, &length, buffer), aErrOverrun);
    EXPECT_EQ(length, 13u);
    EXPECT_EQ(tag, 1);
    const auto records = drain(log.get());  // the record stayed; the older one was evicted
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].content.size(), 13u);
}

TEST(PacketLog, WrapsAroundKeepingTheNewestRecords) {
    LogPtr log(aPacketLog_Create(40));
    for (uint8_t i = 0; i < 50; ++i) {
        const uint8_t content[5] = {i, i, i, i, i};
        ASSERT_EQ(aPacketLog_Put(log.get(), 2, 5, content), aErrNone);
    }
    const auto records = drain(log.get());
    ASSERT_FALSE(records.empty());
    EXPECT_LE(records.size() * 7, 39u);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].content, std::vector<uint8_t>(5, static_cast<uint8_t>(50 - records.size() + i)));
}

TEST(PacketLog, DestroyNullsAndAcceptsNull) {
    aPacketLog* log = aPacketLog_Create(8);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
}

}  // namespace
