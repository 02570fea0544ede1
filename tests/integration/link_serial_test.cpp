// The link engine over a packetized serial link on a pseudo-terminal, against the simulated
// module on the master side.
#include "link_test_support.h"

using namespace linktest;
using halcyonix_sim::SimSerialTransport;

namespace {

class LinkSerial : public ::testing::Test {
protected:
    explicit LinkSerial(uint32_t heartbeatMs = 0) : sim(moduleConfig(heartbeatMs)) {}

    void open()
    {
        link.id = aLink_CreateSerial(kSerial, sim.transport.slavePath().c_str(), 115200);
        ASSERT_NE(link.id, 0u);
        ASSERT_EQ(aLink_GetStatus(link.id), linkRunning);
    }

    SimulatedModule<SimSerialTransport> sim;
    LinkHolder link;
};

TEST_F(LinkSerial, PacketsAndRouteRequestsCrossTheFramedLink)
{
    open();
    EXPECT_TRUE(echoes(link.id, 1));
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.control("routes") == "ok 1"; }));
    aLink_Destroy(&link.id);
    EXPECT_TRUE(hxtest::waitFor([&] { return sim.control("routes") == "ok 1 0"; }));
    EXPECT_EQ(sim.transport.badFrames(), 0u);
}

class LinkSerialHeartbeat : public LinkSerial {
protected:
    LinkSerialHeartbeat() : LinkSerial(20) {}
};

TEST_F(LinkSerialHeartbeat, HeartbeatsAreAnsweredAndNeverQueued)
{
    open();
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.number("heartbeats", "answered") >= 6; }));
    EXPECT_EQ(sim.number("heartbeats", "wrong"), 0u);
    EXPECT_EQ(aLink_GetFirst(link.id, isHeartbeat, nullptr), nullptr);
}

TEST_F(LinkSerial, CorruptedFrameCostsThatPacketAndTheLinkRecovers)
{
    open();
    ASSERT_TRUE(echoes(link.id, 2));
    sim.control("fault corrupt 2");
    EXPECT_FALSE(echoes(link.id, 3, 1000));
    EXPECT_TRUE(echoes(link.id, 4));
    EXPECT_TRUE(waitForStatus(link.id, linkRunning));
}

TEST_F(LinkSerial, DroppedBytesCostThatPacketAndTheLinkRecovers)
{
    open();
    sim.control("fault drop 3");
    EXPECT_FALSE(echoes(link.id, 5, 1000));
    EXPECT_TRUE(echoes(link.id, 6));
}

TEST_F(LinkSerial, SameSerialNumberSharesTheLink)
{
    open();
    uint32_t second = aLink_CreateSerial(kSerial, sim.transport.slavePath().c_str(), 9600);
    EXPECT_EQ(second, link.id);
    aLink_Destroy(&second);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
}

TEST(LinkSerialRates, UnsupportedRateOrPortGivesNoLinkAndLeavesNoEntry)
{
    SimulatedModule<SimSerialTransport> sim(moduleConfig());
    EXPECT_EQ(aLink_CreateSerial(kSerial, sim.transport.slavePath().c_str(), 14400), 0u);
    EXPECT_EQ(aLink_CreateSerial(kSerial, "/dev/no-such-port", 115200), 0u);
    EXPECT_EQ(aLink_CreateSerial(kSerial, nullptr, 115200), 0u);
    // Nothing was left behind to share: a good creation makes a link of its own, whose one
    // destroy tears it down.
    uint32_t link = aLink_CreateSerial(kSerial, sim.transport.slavePath().c_str(), 230400);
    ASSERT_NE(link, 0u);
    uint32_t id = link;
    EXPECT_EQ(aLink_Destroy(&link), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), linkInvalid);
}

}  // namespace

namespace {

TEST(LinkSerialProgram, LinkToTheSimulatorProgramOnItsPseudoTerminal)
{
    hxtest::Process sim({hxtest::programPath("halcyonix-sim"), "--transport", "serial", "--heartbeat", "50"});
    std::optional<std::string> line = sim.waitForLine("serial /dev/");
    ASSERT_TRUE(line);
    std::string path = line->substr(line->find(' ') + 1);
    LinkHolder link;
    link.id = aLink_CreateSerial(kSerial, path.c_str(), 57600);
    ASSERT_NE(link.id, 0u);
    EXPECT_TRUE(echoes(link.id, 7));
    EXPECT_EQ(aLink_GetFirst(link.id, isHeartbeat, nullptr), nullptr);
    aLink_Destroy(&link.id);
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
