// The link engine over the in-memory USB bus, against a simulated module plugged into it.
#include "SimUsbTransport.h"
#include "link_test_support.h"

using namespace linktest;
using halcyonix_sim::SimUsbTransport;

namespace {

class LinkUsb : public ::testing::Test {
protected:
    LinkUsb() { aUSBBus_SelectBackend(aUSBBackendMemory); }
    ~LinkUsb() override
    {
        if (link.id)
            aLink_Destroy(&link.id);
        sim.reset();
        aUSBBus_SelectBackend(aUSBBackendLibusb);
    }
    void plug(uint32_t heartbeatMs = 0) { sim = std::make_unique<SimulatedModule<SimUsbTransport>>(moduleConfig(heartbeatMs)); }

    std::unique_ptr<SimulatedModule<SimUsbTransport>> sim;
    LinkHolder link;
};

TEST_F(LinkUsb, CreationSynchronisesAndDrainsTheSynchronisationTraffic)
{
    plug();
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
    EXPECT_TRUE(hxtest::waitFor([&] { return sim->number("syncs") >= 6u; }));
    EXPECT_EQ(aLink_GetPacket(link.id), nullptr);
    EXPECT_TRUE(echoes(link.id, 1));
    EXPECT_EQ(sim->control("routes"), "ok 1");
}

TEST_F(LinkUsb, AnswersFromTwoAddressesRestartTheSynchronisation)
{
    plug();
    sim->control("alternate 8 6");
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
    // The restart sent six more requests; they may still be on their way.
    EXPECT_TRUE(hxtest::waitFor([&] { return sim->number("syncs") >= 12u; }));
    EXPECT_TRUE(echoes(link.id, 2));
}

TEST_F(LinkUsb, HeartbeatsAreAnsweredAndNeverQueued)
{
    plug(20);
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    ASSERT_TRUE(hxtest::waitFor([&] { return sim->number("heartbeats", "answered") >= 6; }));
    EXPECT_EQ(aLink_GetFirst(link.id, isHeartbeat, nullptr), nullptr);
    EXPECT_TRUE(echoes(link.id, 3));
}

TEST_F(LinkUsb, StrayOddByteResynchronises)
{
    plug();
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    sim->control("clear");
    sim->control("fault stray 07");
    ASSERT_TRUE(hxtest::waitFor([&] { return sim->number("syncs") >= 6; }));
    EXPECT_TRUE(waitForStatus(link.id, linkRunning));
    EXPECT_TRUE(echoes(link.id, 4));
}

TEST_F(LinkUsb, TwoCreationsShareOneLinkUntilTheLastDestroy)
{
    plug();
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    uint32_t second = aLink_CreateUSB(kSerial);
    EXPECT_EQ(second, link.id);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
    EXPECT_TRUE(echoes(link.id, 5));
    uint32_t id = link.id;
    EXPECT_EQ(aLink_Destroy(&link.id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), linkInvalid);
    EXPECT_TRUE(hxtest::waitFor([&] { return sim->control("routes") == "ok 1 0"; }));
}

TEST_F(LinkUsb, UnpluggedModuleGivesAnIOErrorAndAResetBringsItBack)
{
    plug();
    link.id = aLink_CreateUSB(kSerial);
    ASSERT_NE(link.id, 0u);
    sim->control("fault disconnect");
    ASSERT_TRUE(waitForStatus(link.id, linkIOError));
    ASSERT_TRUE(sim->transport.replug());
    EXPECT_EQ(aLink_Reset(link.id), aErrNone);
    // A reset does not force a synchronisation: the module's bytes are aligned from the start.
    EXPECT_TRUE(echoes(link.id, 6));
}

TEST_F(LinkUsb, MissingOrBusyModuleGivesNoLink)
{
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    plug();
    sim->control("fault refuse on");
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    sim->control("fault refuse off");
    link.id = aLink_CreateUSB(kSerial);
    EXPECT_NE(link.id, 0u);
}

}  // namespace
