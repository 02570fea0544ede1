// The link engine over TCP on loopback, against the simulated network module.
#include <atomic>
#include <thread>

#include "link_test_support.h"

using namespace linktest;
using halcyonix_sim::SimTcpTransport;

namespace {

class LinkTcp : public ::testing::Test {
protected:
    explicit LinkTcp(uint32_t heartbeatMs = 0) : sim(moduleConfig(heartbeatMs), uint16_t{0}) {}

    void open()
    {
        link.id = aLink_CreateTCPIP(kSerial, loopback(), sim.transport.port());
        ASSERT_NE(link.id, 0u);
        ASSERT_TRUE(waitForStatus(link.id, linkRunning));
    }

    SimulatedModule<SimTcpTransport> sim;
    LinkHolder link;
};

TEST_F(LinkTcp, RouteRequestsReachTheModuleAtStartAndStop)
{
    open();
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.control("routes") == "ok 1"; }));
    EXPECT_TRUE(echoes(link.id, 1));
    EXPECT_EQ(aLink_Destroy(&link.id), aErrNone);
    EXPECT_EQ(link.id, 0u);
    EXPECT_TRUE(hxtest::waitFor([&] { return sim.control("routes") == "ok 1 0"; }));
    EXPECT_EQ(aLink_GetStatus(1000000), linkInvalid);
}

class LinkTcpHeartbeat : public LinkTcp {
protected:
    LinkTcpHeartbeat() : LinkTcp(20) {}
};

TEST_F(LinkTcpHeartbeat, HeartbeatsAreAnsweredAndNeverQueued)
{
    open();
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.number("heartbeats", "answered") >= 6; }));
    EXPECT_EQ(sim.number("heartbeats", "wrong"), 0u);
    EXPECT_EQ(aLink_GetFirst(link.id, isHeartbeat, nullptr), nullptr);
    EXPECT_TRUE(echoes(link.id, 2));
}

// A byte that cannot begin a packet, arriving between packets, makes the reader align again.
class LinkTcpStrayByte : public LinkTcp, public ::testing::WithParamInterface<const char*> {};

TEST_P(LinkTcpStrayByte, ResynchronisesAndRunsAgain)
{
    open();
    ASSERT_TRUE(echoes(link.id, 3));
    sim.control("clear");
    sim.control(std::string("fault stray ") + GetParam());
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.number("syncs") >= 6; }));
    EXPECT_TRUE(waitForStatus(link.id, linkRunning));
    EXPECT_TRUE(echoes(link.id, 4));
}

INSTANTIATE_TEST_SUITE_P(Bytes, LinkTcpStrayByte, ::testing::Values("07", "00"));

TEST_F(LinkTcp, TwoAnswerAddressesRestartTheSynchronisation)
{
    open();
    sim.control("clear");
    sim.control("alternate 8 8");
    sim.control("fault stray 07");
    ASSERT_TRUE(hxtest::waitFor([&] { return sim.number("syncs") > 6; }));
    EXPECT_TRUE(waitForStatus(link.id, linkRunning));
    EXPECT_TRUE(hxtest::waitFor([&] { return sim.number("syncs") >= 12u; }));
    EXPECT_TRUE(echoes(link.id, 5));
}

TEST_F(LinkTcp, LostPeerGivesAnIOErrorAndTheLinkRunsAgainWhenItReturns)
{
    open();
    sim.control("fault refuse on");
    sim.control("fault disconnect");
    ASSERT_TRUE(waitForStatus(link.id, linkIOError));
    sim.control("fault refuse off");
    EXPECT_TRUE(waitForStatus(link.id, linkRunning));
    EXPECT_TRUE(echoes(link.id, 6));
}

TEST_F(LinkTcp, SilentModuleCostsOnlyTheAnswer)
{
    open();
    sim.control("fault silence on");
    EXPECT_FALSE(echoes(link.id, 7, 500));
    sim.control("fault silence off");
    EXPECT_TRUE(echoes(link.id, 8));
}

TEST_F(LinkTcp, DelayedAnswersStillArrive)
{
    open();
    sim.control("fault delay 300");
    EXPECT_TRUE(echoes(link.id, 9));
}

TEST_F(LinkTcp, IdentificationGivesTheModuleAddressAndModel)
{
    open();
    uint8_t address = 0, model = 0;
    EXPECT_EQ(aLink_GetDeviceInfo(link.id, &address, &model), aErrNone);
    EXPECT_EQ(address, kAddress);
    EXPECT_EQ(model, sim.module.config().model);
    sim.control("fault silence on");
    EXPECT_EQ(aLink_GetDeviceInfo(link.id, &address, &model), aErrTimeout);
    EXPECT_EQ(aLink_GetDeviceInfo(link.id, nullptr, nullptr), aErrParam);
}

TEST_F(LinkTcp, SecondCreationSharesTheLink)
{
    open();
    uint32_t second = aLink_CreateTCPIP(kSerial, loopback(), sim.transport.port());
    EXPECT_EQ(second, link.id);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
    EXPECT_TRUE(echoes(link.id, 10));
}

TEST_F(LinkTcp, AwaitFirstKeepsWaitingAcrossAReset)
{
    open();
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        aPacket* answer = aLink_AwaitFirst(link.id, isEcho, nullptr, 15000);
        got = answer != nullptr;
        aPacket_Destroy(&answer);
    });
    aTime_MSSleep(100);  // let the waiter begin before the reset; the test holds either way
    EXPECT_EQ(aLink_Reset(link.id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(link.id), linkRunning);
    const uint8_t request[2] = {23, 11};
    aPacket* packet = aPacket_CreateWithData(kAddress, 2, request);
    EXPECT_EQ(aLink_PutPacket(link.id, packet), aErrNone);
    aPacket_Destroy(&packet);
    waiter.join();
    EXPECT_TRUE(got);
    // The module saw the link stop and start again.
    EXPECT_TRUE(hxtest::waitFor([&] { return sim.control("routes") == "ok 1 0 1"; }));
}

TEST_F(LinkTcp, DestroyEndsAWaitPromptly)
{
    open();
    std::atomic<bool> done{false};
    auto started = std::chrono::steady_clock::now();
    std::thread waiter([&] {
        aPacket* answer = aLink_AwaitFirst(link.id, isEcho, nullptr, 60000);
        aPacket_Destroy(&answer);
        done = true;
    });
    aTime_MSSleep(100);
    EXPECT_EQ(aLink_Destroy(&link.id), aErrNone);
    waiter.join();
    EXPECT_TRUE(done);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(LinkTcpRefused, ModuleThatIsNotThereGivesNoLink)
{
    uint16_t port;
    {
        SimulatedModule<SimTcpTransport> gone(moduleConfig(), uint16_t{0});
        port = gone.transport.port();
    }
    EXPECT_EQ(aLink_CreateTCPIP(kSerial, loopback(), port), 0u);
    EXPECT_EQ(aLink_Reset(0), aErrParam);
}

// The simulator program as a user runs it: its control channel over TCP.
std::string askControl(uint16_t port, const std::string& line)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = loopback();
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = line + "\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char c;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n')
            answer.push_back(c);
    }
    ::close(fd);
    return answer;
}

uint16_t portOf(const std::optional<std::string>& line)
{
    return line ? static_cast<uint16_t>(std::stoul(line->substr(line->rfind(' ') + 1))) : 0;
}

TEST(LinkTcpProgram, LinkToTheSimulatorProgram)
{
    hxtest::Process sim({hxtest::programPath("halcyonix-sim"), "--serial-number", "40F5849A", "--heartbeat", "50"});
    uint16_t modulePort = portOf(sim.waitForLine("tcp 127.0.0.1"));
    uint16_t controlPort = portOf(sim.waitForLine("control 127.0.0.1"));
    ASSERT_NE(modulePort, 0);
    ASSERT_NE(controlPort, 0);
    LinkHolder link;
    link.id = aLink_CreateTCPIP(kSerial, loopback(), modulePort);
    ASSERT_NE(link.id, 0u);
    EXPECT_TRUE(echoes(link.id, 12));
    EXPECT_TRUE(hxtest::waitFor([&] {
        std::string counts = askControl(controlPort, "heartbeats");
        std::size_t at = counts.find("answered=");
        return at != std::string::npos && std::stoul(counts.substr(at + 9)) >= 2;
    }));
    EXPECT_EQ(askControl(controlPort, "routes"), "ok 1");
    aLink_Destroy(&link.id);
    EXPECT_TRUE(hxtest::waitFor([&] { return askControl(controlPort, "routes") == "ok 1 0"; }));
    EXPECT_EQ(askControl(controlPort, "nonsense").rfind("error", 0), 0u);
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
