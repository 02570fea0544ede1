// The link engine over a stream the caller builds: a scripted module end whose reads and
// writes the test sees one by one (pooled writing, the packet log, the user filter, the
// heartbeat answer bytes, the registry's answers for unknown links).
#include <condition_variable>
#include <deque>
#include <mutex>

#include "link_test_support.h"

using namespace linktest;

namespace {

// The far end of a caller-supplied stream. Reads wait a short, bounded time for bytes; the
// first write can be held back so that packets pile up behind it.
class ScriptedEnd {
public:
    aStream* makeStream()
    {
        return aStream_Create(&ScriptedEnd::get, nullptr, &ScriptedEnd::write, nullptr, this);
    }
    void feed(const std::vector<uint8_t>& bytes)
    {
        std::lock_guard lock(mutex_);
        incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
        changed_.notify_all();
    }
    void holdFirstWrite() { std::lock_guard lock(mutex_); holding_ = true; }
    void release()
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    std::vector<std::vector<uint8_t>> writes()
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    bool writing()
    {
        std::lock_guard lock(mutex_);
        return inWrite_;
    }

private:
    static aErr get(uint8_t* byte, void* reference)
    {
        auto* self = static_cast<ScriptedEnd*>(reference);
        std::unique_lock lock(self->mutex_);
        if (!self->changed_.wait_for(lock, 20ms, [&] { return !self->incoming_.empty(); }))
            return aErrNotReady;
        *byte = self->incoming_.front();
        self->incoming_.pop_front();
        return aErrNone;
    }
    static aErr write(const uint8_t* bytes, size_t count, void* reference)
    {
        auto* self = static_cast<ScriptedEnd*>(reference);
        std::unique_lock lock(self->mutex_);
        self->inWrite_ = true;
        self->changed_.wait_for(lock, 20s, [&] { return !self->holding_; });
        self->inWrite_ = false;
        self->writes_.emplace_back(bytes, bytes + count);
        return aErrNone;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<uint8_t> incoming_;
    std::vector<std::vector<uint8_t>> writes_;
    bool holding_ = false;
    bool inWrite_ = false;
};

class LinkEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        link.id = aLink_Create(end.makeStream());
        ASSERT_NE(link.id, 0u);
        ASSERT_EQ(aLink_GetStatus(link.id), linkRunning);
    }
    bool wroteImage(const std::vector<uint8_t>& image)
    {
        return hxtest::waitFor([&] {
            for (const auto& w : end.writes())
                if (w == image)
                    return true;
            return false;
        });
    }

    ScriptedEnd end;
    LinkHolder link;
};

TEST_F(LinkEngine, PooledPacketsGoOutInWritesOfAtMost4096Bytes)
{
    ASSERT_TRUE(wroteImage({0xAF, 1, 1}));  // the route request of the start
    ASSERT_EQ(aLink_EnablePooledPackets(link.id, true), aErrNone);
    end.holdFirstWrite();
    aPacket* marker = aPacket_CreateWithData(kAddress, 1, std::vector<uint8_t>{0xEE}.data());
    ASSERT_EQ(aLink_PutPacket(link.id, marker), aErrNone);
    aPacket_Destroy(&marker);
    ASSERT_TRUE(hxtest::waitFor([&] { return end.writing(); }));
    std::vector<uint8_t> data(28, 0x11);
    aPacket* packet = aPacket_CreateWithData(kAddress, 28, data.data());
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(aLink_PutPacket(link.id, packet), aErrNone);
    aPacket_Destroy(&packet);
    end.release();
    ASSERT_TRUE(hxtest::waitFor([&] { return end.writes().size() >= 4; }));
    auto writes = end.writes();
    EXPECT_EQ(writes[1], (std::vector<uint8_t>{kAddress, 1, 0xEE}));
    EXPECT_EQ(writes[2].size(), 136u * 30);
    EXPECT_EQ(writes[3].size(), 64u * 30);
}

TEST_F(LinkEngine, UnpooledPacketsGoOutOneWriteEach)
{
    aPacket* packet = aPacket_CreateWithData(kAddress, 2, std::vector<uint8_t>{23, 1}.data());
    for (int i = 0; i < 3; ++i)
        aLink_PutPacket(link.id, packet);
    aPacket_Destroy(&packet);
    ASSERT_TRUE(hxtest::waitFor([&] { return end.writes().size() >= 4; }));
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(end.writes()[i], (std::vector<uint8_t>{kAddress, 2, 23, 1}));
}

struct HeartbeatCase {
    uint8_t direction;
    uint8_t answer;
};

void PrintTo(const HeartbeatCase& c, std::ostream* out)
{
    *out << "heartbeat " << int(c.direction) << " answered " << int(c.answer);
}

class LinkEngineHeartbeat : public LinkEngine, public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(LinkEngineHeartbeat, IsAnsweredAndNotQueued)
{
    end.feed({0x04, 0x02, 0x00, GetParam().direction});
    EXPECT_TRUE(wroteImage({0x04, 0x02, 0x00, GetParam().answer}));
    EXPECT_EQ(aLink_GetPacket(link.id), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Directions, LinkEngineHeartbeat,
                         ::testing::Values(HeartbeatCase{0, 2}, HeartbeatCase{1, 3}));

uint8_t consumeAll(const aPacket*, void* reference)
{
    ++*static_cast<std::atomic<int>*>(reference);
    return 1;
}

TEST_F(LinkEngine, UserFilterThatTakesEverythingSuppressesQueueAndHeartbeatAnswers)
{
    std::atomic<int> seen{0};
    ASSERT_EQ(aLink_InstallUserPacketFilter(link.id, consumeAll, &seen), aErrNone);
    end.feed({0x04, 0x02, 0x00, 0x00, 0x04, 0x01, 0x17});
    ASSERT_TRUE(hxtest::waitFor([&] { return seen == 2; }));
    EXPECT_EQ(aLink_GetPacket(link.id), nullptr);
    for (const auto& w : end.writes())
        EXPECT_NE(w, (std::vector<uint8_t>{0x04, 0x02, 0x00, 0x02}));
    ASSERT_EQ(aLink_InstallUserPacketFilter(link.id, nullptr, nullptr), aErrNone);
    end.feed({0x04, 0x01, 0x17});
    aPacket* packet = aLink_AwaitPacket(link.id, 5000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->address, 0x04);
    aPacket_Destroy(&packet);
}

TEST_F(LinkEngine, MisalignedBytesStartASynchronisationThatTwoEqualAnswersEnd)
{
    end.feed({0x07});
    ASSERT_TRUE(waitForStatus(link.id, linkSyncing));
    ASSERT_TRUE(wroteImage({0xAD, 0x00}));
    end.feed({0x06, 0x00, 0x08, 0x00});  // two addresses: not yet
    end.feed({0x06, 0x00, 0x06, 0x00});
    ASSERT_TRUE(waitForStatus(link.id, linkRunning));
    end.feed({0x06, 0x01, 0x42});
    aPacket* packet = aLink_AwaitPacket(link.id, 5000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->address, 0x06);
    EXPECT_EQ(packet->data[0], 0x42);
    aPacket_Destroy(&packet);
}

TEST_F(LinkEngine, PacketLogRecordsBothDirections)
{
    ASSERT_TRUE(wroteImage({0xAF, 1, 1}));  // the start's route request, before the log exists
    EXPECT_EQ(aLink_PacketDebug_Read(link.id, nullptr, nullptr, nullptr), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.id, 0x4000001), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.id, 4096), aErrNone);
    ASSERT_EQ(aLink_PacketDebug_Enable(link.id), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.id, 1024), aErrBusy);
    aPacket* packet = aPacket_CreateWithData(kAddress, 1, std::vector<uint8_t>{0x31}.data());
    aLink_PutPacket(link.id, packet);
    aPacket_Destroy(&packet);
    ASSERT_TRUE(wroteImage({kAddress, 1, 0x31}));
    end.feed({0x04, 0x01, 0x32});
    packet = aLink_AwaitPacket(link.id, 5000);
    aPacket_Destroy(&packet);
    uint8_t tag = 0, buffer[64];
    uint32_t length = sizeof buffer;
    ASSERT_TRUE(hxtest::waitFor([&] {
        length = sizeof buffer;
        return aLink_PacketDebug_Read(link.id, &tag, &length, buffer) == aErrNone;
    }));
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), (std::vector<uint8_t>{kAddress, 1, 0x31}));
    length = sizeof buffer;
    ASSERT_EQ(aLink_PacketDebug_Read(link.id, &tag, &length, buffer), aErrNone);
    EXPECT_EQ(tag, 2);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), (std::vector<uint8_t>{0x04, 1, 0x32}));
    EXPECT_EQ(aLink_PacketDebug_Write(link.id, 3, 2, reinterpret_cast<const uint8_t*>("hi")), aErrNone);
    length = sizeof buffer;
    ASSERT_EQ(aLink_PacketDebug_Read(link.id, &tag, &length, buffer), aErrNone);
    EXPECT_EQ(tag, 3);
    EXPECT_EQ(aLink_PacketDebug_Disable(link.id), aErrNone);
    end.feed({0x04, 0x01, 0x33});
    packet = aLink_AwaitPacket(link.id, 5000);
    EXPECT_NE(packet, nullptr);
    aPacket_Destroy(&packet);
    length = sizeof buffer;
    EXPECT_EQ(aLink_PacketDebug_Read(link.id, &tag, &length, buffer), aErrNotFound);
}

TEST_F(LinkEngine, ACallerStreamCannotBeRecreatedByAReset)
{
    EXPECT_EQ(aLink_Reset(link.id), aErrParam);
    EXPECT_EQ(aLink_GetStatus(link.id), linkInvalid);
    EXPECT_EQ(aLink_PutPacket(link.id, nullptr), aErrParam);
}

// A stream whose read does not come back for a long time: a stop must not wait for it.
struct StuckStream {
    std::mutex mutex;
    std::condition_variable changed;
    bool stuck = false;
    bool released = false;
    bool closed = false;
    bool inside = false;

    static aErr get(uint8_t*, void* reference)
    {
        auto* self = static_cast<StuckStream*>(reference);
        std::unique_lock lock(self->mutex);
        if (self->stuck) {
            self->inside = true;
            self->changed.wait_for(lock, 60s, [&] { return self->released; });
        } else
            self->changed.wait_for(lock, 20ms);
        return aErrNotReady;
    }
    static aErr write(const uint8_t*, size_t, void*) { return aErrNone; }
    static aErr close(void* reference)
    {
        auto* self = static_cast<StuckStream*>(reference);
        std::lock_guard lock(self->mutex);
        self->closed = true;
        return aErrNone;
    }
    void set(bool& flag)
    {
        std::lock_guard lock(mutex);
        flag = true;
        changed.notify_all();
    }
    bool is(const bool& flag)
    {
        std::lock_guard lock(mutex);
        return flag;
    }
};

TEST(LinkStop, AReaderStuckInItsStreamDoesNotHoldUpTheDestroy)
{
    // Static: the let-go reader may still be leaving the stream after the test has ended.
    static StuckStream stuck;
    StuckStream* stream = &stuck;
    uint32_t link = aLink_Create(aStream_Create(&StuckStream::get, nullptr, &StuckStream::write,
                                                &StuckStream::close, stream));
    ASSERT_NE(link, 0u);
    stream->set(stream->stuck);
    ASSERT_TRUE(hxtest::waitFor([&] { return stream->is(stream->inside); }));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(aLink_Destroy(&link), aErrNone);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 15s);
    // The stream stays open while the reader is inside it, and closes when the reader leaves.
    EXPECT_FALSE(stream->is(stream->closed));
    stream->set(stream->released);
    EXPECT_TRUE(hxtest::waitFor([&] { return stream->is(stream->closed); }));
}

TEST(LinkRegistry, UnknownLinksAreRefused)
{
    const uint32_t never = 0xFFFFFFF0;
    EXPECT_EQ(aLink_GetStatus(never), linkInvalid);
    EXPECT_EQ(aLink_GetStatus(0), linkInvalid);
    uint32_t id = never;
    EXPECT_EQ(aLink_Destroy(&id), aErrParam);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(aLink_Reset(never), aErrParam);
    EXPECT_EQ(aLink_PutPacket(never, nullptr), aErrParam);
    EXPECT_EQ(aLink_GetPacket(never), nullptr);
    EXPECT_EQ(aLink_AwaitFirst(never, isEcho, nullptr, 10), nullptr);
    EXPECT_EQ(aLink_DrainPackets(never, isEcho, nullptr), 0u);
    EXPECT_EQ(aLink_InstallUserPacketFilter(never, nullptr, nullptr), aErrParam);
    EXPECT_EQ(aLink_EnablePooledPackets(never, true), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Enable(never), aErrParam);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}

}  // namespace
