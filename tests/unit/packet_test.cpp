// Packets: whole creation, byte-by-byte assembly and the UEI accessors.
#include <gtest/gtest.h>

#include <ostream>

#include <vector>

#include "aPacket.h"

namespace {

struct PacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
using PacketPtr = std::unique_ptr<aPacket, PacketDeleter>;

struct AssemblyCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<aErr> results;  // one per byte
    bool complete;
};

void PrintTo(const AssemblyCase& c, std::ostream* os) { *os << c.name; }

class PacketAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(PacketAssembly, EachByteGivesItsResult) {
    const AssemblyCase& c = GetParam();
    PacketPtr packet(aPacket_Create());
    ASSERT_TRUE(packet);
    for (size_t i = 0; i < c.bytes.size(); ++i)
        EXPECT_EQ(aPacket_AddByte(packet.get(), c.bytes[i]), c.results[i]) << "byte " << i;
    EXPECT_EQ(aPacket_IsComplete(packet.get()), c.complete);
}

std::vector<uint8_t> thirtyOneBytes() {
    std::vector<uint8_t> bytes{0x02, 28};
    bytes.resize(31, 0xAA);
    return bytes;
}

std::vector<aErr> thirtyOneResults() {
    std::vector<aErr> results(30, aErrNone);
    results.push_back(aErrOverrun);
    return results;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PacketAssembly,
    ::testing::Values(
        AssemblyCase{"EmptyPacket", {0x04, 0x00}, {aErrNone, aErrNone}, true},
        AssemblyCase{"TwoDataBytes", {0x06, 0x02, 0x11, 0x22}, {aErrNone, aErrNone, aErrNone, aErrNone}, true},
        AssemblyCase{"ByteBeyondLength", {0x06, 0x02, 0x11, 0x22, 0x33},
                     {aErrNone, aErrNone, aErrNone, aErrNone, aErrPacket}, false},
        AssemblyCase{"ZeroAddress", {0x00}, {aErrPacket}, false},
        AssemblyCase{"LengthTooLarge", {0x02, 29}, {aErrNone, aErrPacket}, false},
        AssemblyCase{"ThirtyFirstByte", thirtyOneBytes(), thirtyOneResults(), false}),
    [](const auto& info) { return info.param.name; });

TEST(Packet, AssembledFieldsAndWireImage) {
    PacketPtr packet(aPacket_Create());
    for (uint8_t byte : {0x06, 0x03, 0x11, 0x22, 0x33}) ASSERT_EQ(aPacket_AddByte(packet.get(), byte), aErrNone);
    EXPECT_EQ(packet->address, 0x06);
    EXPECT_EQ(packet->dataSize, 3);
    uint8_t image[5] = {};
    uint32_t length = 0;
    ASSERT_EQ(aPacket_GetBytes(packet.get(), image, sizeof image, &length), aErrNone);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::vector<uint8_t>(image, image + 5), (std::vector<uint8_t>{0x06, 0x03, 0x11, 0x22, 0x33}));
    uint8_t small[4] = {};
    EXPECT_EQ(aPacket_GetBytes(packet.get(), small, sizeof small, &length), aErrOverrun);
    EXPECT_EQ(small[0], 0);

    ASSERT_EQ(aPacket_Reset(packet.get()), aErrNone);
    EXPECT_EQ(packet->byteCount, 0);
    EXPECT_EQ(packet->address, 0);
    EXPECT_TRUE(aVALIDPACKET(packet.get()));
}

TEST(Packet, CreateWithDataAndCopy) {
    uint8_t data[29] = {1, 2, 3};
    EXPECT_EQ(aPacket_CreateWithData(2, 29, data), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(2, 1, nullptr), nullptr);
    PacketPtr full(aPacket_CreateWithData(2, 28, data));
    ASSERT_TRUE(full);
    EXPECT_TRUE(aPacket_IsComplete(full.get()));
    PacketPtr copy(aPacket_Copy(full.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), full.get());
    EXPECT_EQ(copy->dataSize, 28);
    EXPECT_EQ(copy->data[2], 3);
    EXPECT_EQ(copy->byteCount, 30);

    aPacket forged = *full;
    forged.checkWord = 0x1234;
    EXPECT_EQ(aPacket_Copy(&forged), nullptr);
    EXPECT_EQ(aPacket_Reset(&forged), aErrParam);
    EXPECT_EQ(aPacket_AddByte(&forged, 1), aErrParam);
}

TEST(Packet, DestroyNullsThePointer) {
    aPacket* packet = aPacket_Create();
    ASSERT_EQ(aPacket_Destroy(&packet), aErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}

TEST(Packet, UeiAccessorsMaskAndCheckLength) {
    const uint8_t data[3] = {0x21, 0xC5, 0xE7};
    PacketPtr packet(aPacket_CreateWithData(4, 3, data));
    uint8_t value = 0;
    ASSERT_EQ(aPacket_GetCmd(packet.get(), &value), aErrNone);
    EXPECT_EQ(value, 0x21);
    ASSERT_EQ(aPacket_GetOption(packet.get(), &value), aErrNone);
    EXPECT_EQ(value, 0x05);
    ASSERT_EQ(aPacket_GetIndex(packet.get(), &value), aErrNone);
    EXPECT_EQ(value, 0x07);
    EXPECT_EQ(aPacket_GetCmd(packet.get(), nullptr), aErrParam);

    PacketPtr shorter(aPacket_CreateWithData(4, 2, data));
    EXPECT_EQ(aPacket_GetIndex(shorter.get(), &value), aErrPacket);
    EXPECT_EQ(aPacket_GetOption(shorter.get(), &value), aErrNone);
    EXPECT_EQ(aPacket_GetCmd(nullptr, &value), aErrPacket);
}

}  // namespace
