// The simulator's own framing and module answers, checked against hand-written wire bytes.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "SimControl.h"
#include "SimModule.h"
#include "SimWire.h"

using namespace halcyonix_sim;
using Bytes = std::vector<uint8_t>;

TEST(SimWire, Crc8CheckValue)
{
    const std::string text = "123456789";
    EXPECT_EQ(crc8(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0xA1);
}

struct CobsCase {
    Bytes plain;
    Bytes encoded;
};

void PrintTo(const CobsCase& c, std::ostream* out)
{
    *out << toHex(c.plain) << " -> " << toHex(c.encoded);
}

class SimCobs : public ::testing::TestWithParam<CobsCase> {};

TEST_P(SimCobs, EncodesAndDecodes)
{
    EXPECT_EQ(cobsEncode(GetParam().plain), GetParam().encoded);
    EXPECT_EQ(cobsDecode(GetParam().encoded), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimCobs,
                         ::testing::Values(CobsCase{{}, {0x01}}, CobsCase{{0x00}, {0x01, 0x01}},
                                           CobsCase{{0x11, 0x22, 0x00, 0x33}, {0x03, 0x11, 0x22, 0x02, 0x33}},
                                           CobsCase{{0x11, 0x00, 0x00}, {0x02, 0x11, 0x01, 0x01}}));

TEST(SimWire, CobsRejectsACodeReachingPastTheFrame)
{
    EXPECT_FALSE(cobsDecode({0x05, 0x11, 0x22}));
}

TEST(SimWire, FrameOfOneBytePacket)
{
    EXPECT_EQ(encodeFrame(SimPacket{2, {0x05}}), (Bytes{0x05, 0x02, 0x01, 0x05, 0xB4, 0x00}));
}

TEST(SimWire, FrameParserDropsABadCrcAndTakesTheNextFrame)
{
    FramePacketParser parser;
    std::vector<SimPacket> got;
    Bytes wire = {0x05, 0x02, 0x01, 0x05, 0xB5, 0x00,   // CRC off by one
                  0x05, 0x02, 0x01, 0x05, 0xB4, 0x00};
    for (uint8_t byte : wire)
        if (auto packet = parser.feed(byte))
            got.push_back(*packet);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (SimPacket{2, {0x05}}));
    EXPECT_EQ(parser.badFrames(), 1u);
}

TEST(SimWire, RawParserSplitsPacketsAndSkipsZeroAddresses)
{
    RawPacketParser parser;
    std::vector<SimPacket> got;
    for (uint8_t byte : Bytes{0x00, 0x04, 0x00, 0x06, 0x02, 0x11, 0x22, 0xAD, 0x00})
        if (auto packet = parser.feed(byte))
            got.push_back(*packet);
    EXPECT_EQ(got, (std::vector<SimPacket>{{4, {}}, {6, {0x11, 0x22}}, {0xAD, {}}}));
}

// A module whose answers are collected as packets.
class SimModuleAnswers : public ::testing::Test {
protected:
    SimModuleAnswers()
    {
        ModuleConfig config;
        config.serialNumber = 0x40F5849A;
        config.model = 7;
        config.address = 6;
        config.build = 0x01020304;
        module.emplace(config);
        module->setSender([this](const SimPacket& p) {
            std::lock_guard lock(mutex);
            sent.push_back(p);
        });
    }
    std::vector<SimPacket> ask(SimPacket request)
    {
        {
            std::lock_guard lock(mutex);
            sent.clear();
        }
        module->receive(request);
        std::lock_guard lock(mutex);
        return sent;
    }

    std::mutex mutex;
    std::vector<SimPacket> sent;
    std::optional<SimModule> module;
};

struct ExchangeCase {
    const char* what;
    SimPacket request;
    std::vector<SimPacket> answers;
};

void PrintTo(const ExchangeCase& c, std::ostream* out)
{
    *out << c.what;
}

class SimModuleExchange : public SimModuleAnswers, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(SimModuleExchange, Answers)
{
    EXPECT_EQ(ask(GetParam().request), GetParam().answers) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimModuleExchange,
    ::testing::Values(
        ExchangeCase{"sync", {0xAD, {}}, {{6, {}}}},
        ExchangeCase{"route", {0xAF, {1}}, {}},
        ExchangeCase{"echo", {6, {23, 1, 2, 3}}, {{6, {23, 1, 2, 3}}}},
        ExchangeCase{"build", {6, {73, 0xFF}}, {{6, {73, 0xFF, 1, 2, 3, 4}}}},
        ExchangeCase{"class quantity", {6, {73, 4, 3}}, {{6, {73, 4, 3, 1}}}},
        ExchangeCase{"serial", {6, {3, 0x49, 0x20}}, {{6, {3, 9, 0, 0x40, 0xF5, 0x84, 0x9A}}}},
        ExchangeCase{"model", {6, {3, 0x48, 0x20}}, {{6, {3, 8, 0, 7}}}},
        ExchangeCase{"set router", {6, {3, 0x82, 0x20, 4}}, {{6, {3, 0xC2, 0}}}},
        ExchangeCase{"set read-only", {6, {3, 0x89, 0x20, 0, 0, 0, 1}}, {{6, {3, 0x89, 0x80, 2}}}},
        ExchangeCase{"unknown option", {6, {3, 0x7E, 0x20}}, {{6, {3, 0x7E, 0x80, 21}}}},
        ExchangeCase{"other address", {8, {23, 1}}, {}}));

TEST_F(SimModuleAnswers, SetRouterIsReadBack)
{
    ask({6, {3, 0x82, 0x20, 4}});
    EXPECT_EQ(ask({6, {3, 0x42, 0x20}}), (std::vector<SimPacket>{{6, {3, 2, 0, 4}}}));
}

TEST_F(SimModuleAnswers, NameComesAsAByteSequence)
{
    std::vector<SimPacket> answers = ask({6, {3, 0x60, 0x20}});
    ASSERT_EQ(answers.size(), 1u);
    std::string name(answers[0].data.begin() + 3, answers[0].data.end() - 1);
    EXPECT_EQ(name, "Simulated module");
    EXPECT_EQ(answers[0].data.back(), 0);  // sequence 0, nothing follows
}

TEST_F(SimModuleAnswers, NameSetInTwoPacketsIsAcknowledgedOnceAndReadBack)
{
    std::vector<uint8_t> first{3, 0xA0, 0x20};
    first.insert(first.end(), 24, 'a');
    first.push_back(0x80);
    EXPECT_TRUE(ask({6, first}).empty());
    EXPECT_EQ(ask({6, {3, 0xA0, 0x20, 'b', 'c', 0x01}}), (std::vector<SimPacket>{{6, {3, 0xE0, 0}}}));
    EXPECT_EQ(module->config().name, std::string(24, 'a') + "bc");
    std::vector<SimPacket> answers = ask({6, {3, 0x60, 0x20}});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].data.back(), 0x80);
    EXPECT_EQ(answers[1].data, (std::vector<uint8_t>{3, 32, 0, 'b', 'c', 0x01}));
}

TEST_F(SimModuleAnswers, HeartbeatAnswersAreChecked)
{
    module->sendHeartbeat(0);
    module->sendHeartbeat(1);
    EXPECT_EQ(sent, (std::vector<SimPacket>{{6, {0, 0}}, {6, {0, 1}}}));
    ask({6, {0, 2}});
    ask({6, {0, 2}});  // the down answer was due
    HeartbeatCounts counts = module->heartbeats();
    EXPECT_EQ(counts.sent, 2u);
    EXPECT_EQ(counts.answered, 1u);
    EXPECT_EQ(counts.wrong, 1u);
}

TEST_F(SimModuleAnswers, AlternatingSyncAnswersNeverRepeatAnAddress)
{
    module->alternateSyncAnswers(8, 4);
    std::vector<uint8_t> from;
    for (int i = 0; i < 6; ++i)
        from.push_back(ask({0xAD, {}}).at(0).address);
    EXPECT_EQ(from, (std::vector<uint8_t>{6, 8, 6, 8, 6, 6}));
    EXPECT_EQ(module->syncRequests(), 6u);
}
