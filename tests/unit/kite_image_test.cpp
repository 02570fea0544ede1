// Kite images built by hand here (own byte layout, own zlib calls), good and malformed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DebugCapture.h"
#include "KiteBuilder.h"
#include "KiteImage.h"
#include "TestSupport.h"
#include "UpdaterDisplay.h"

namespace {

using namespace hxtest::kite;

// Captures the KiteFile diagnostics for one test.
class KiteImageTest : public ::testing::Test {
protected:
    std::string logText() { return log_.text(); }
    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir_.path() + "/" + name;
        hxtest::writeFile(path, bytes);
        return path;
    }

    hxtest::TempDir dir_;
    hxtest::DebugCapture log_{DEBUG_KiteFile};
};

TEST_F(KiteImageTest, TwoBlocksLoadWithoutMismatch)
{
    const std::string path = write("good.kite",
        image(payload(2, {block(0x21, addressed(0x10000000, "LOADER")), block(0x41, addressed(0x8000, "CODE"))})));
    ASSERT_TRUE(isKiteFile(path.c_str()));
    KiteFile kite(path);
    EXPECT_EQ(kite.blockCount(), 2u);
    EXPECT_EQ(kite.magic(), 0x6B697465u);
    EXPECT_EQ(kite.headerWord(), 0x0101);
    EXPECT_EQ(kite.checksum(), 0xC0FFEE01u);
    ASSERT_EQ(kite.blocks().size(), 2u);
    EXPECT_EQ(kite.blocks()[0].type, 1);
    EXPECT_EQ(kite.blocks()[0].flags, 1);
    EXPECT_EQ(kite.blocks()[0].address, 0x10000000u);
    EXPECT_EQ(kite.blocks()[1].flags, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kite.blocks()[1].data) + 4, 4), "CODE");
    EXPECT_TRUE(kite.parsedCleanly());
    EXPECT_EQ(logText().find("mismatch"), std::string::npos);
}

struct QuickCheckCase {
    const char* name;
    Bytes bytes;
    bool accepted;
};

class QuickCheck : public KiteImageTest, public ::testing::WithParamInterface<QuickCheckCase> {};

TEST_P(QuickCheck, LooksOnlyAtTheSixHeaderBytes)
{
    EXPECT_EQ(isKiteFile(write("f", GetParam().bytes).c_str()), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Headers, QuickCheck,
    ::testing::Values(QuickCheckCase{"FiveBytes", Bytes("kite\x01", 5), false},
                      QuickCheckCase{"ZeroFirstHeaderByte", Bytes("kite\x00\x01", 6), false},
                      QuickCheckCase{"ZeroSecondHeaderByte", Bytes("kite\x01\x00", 6), false},
                      QuickCheckCase{"MagicInOtherCase", Bytes("Kite\x01\x01rest", 10), false},
                      QuickCheckCase{"HeaderThenAnything", Bytes("kite\x05\x07garbage", 13), true},
                      QuickCheckCase{"ExactlySixBytes", Bytes("kite\x05\x07", 6), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KiteImageTest, MissingFileFailsQuickCheckAndConstruction)
{
    const std::string path = dir_.path() + "/absent.kite";
    EXPECT_FALSE(isKiteFile(path.c_str()));
    EXPECT_THROW({ KiteFile kite(path); }, std::runtime_error);
    EXPECT_NE(logText().find("KITEFILE: KITE file not found [" + path + "]"), std::string::npos);
}

TEST_F(KiteImageTest, LoadIgnoresTheMagic)
{
    KiteFile kite(write("x.kite", image(payload(0, {}), Bytes("XXXX\x00\x00", 6))));
    EXPECT_EQ(kite.blockCount(), 0u);
    EXPECT_TRUE(kite.parsedCleanly());
}

TEST_F(KiteImageTest, PayloadBeyondEightTimesFailsWithBufferError)
{
    const Bytes zeros(100000, '\0');  // deflates far better than eight to one
    const std::string path = write("big.kite", image(payload(1, {block(3, zeros)})));
    EXPECT_THROW({ KiteFile k(path); }, std::runtime_error);
    EXPECT_NE(logText().find("KITEFILE: Error (-5) decompressing kite file."), std::string::npos);
}

TEST_F(KiteImageTest, TruncatedCompressedDataFails)
{
    Bytes bytes = image(payload(1, {block(1, addressed(0, Bytes(2000, 'q')))}));
    bytes.resize(bytes.size() / 2);
    EXPECT_THROW({ KiteFile k(write("cut.kite", bytes)); }, std::runtime_error);
    EXPECT_NE(logText().find("decompressing kite file"), std::string::npos);
}

TEST_F(KiteImageTest, HeaderWithoutCompressedDataNeverLoads)
{
    EXPECT_THROW({ KiteFile k(write("h.kite", Bytes("kite\x01\x01", 6))); }, std::runtime_error);
}

TEST_F(KiteImageTest, DeclaredCountLargerThanParsedIsLoggedAndKept)
{
    KiteFile kite(write("n.kite", image(payload(3, {block(1, addressed(4, "ab")), block(3, "zz")}))));
    EXPECT_EQ(kite.blockCount(), 2u);
    EXPECT_EQ(kite.declaredBlockCount(), 3u);
    EXPECT_FALSE(kite.parsedCleanly());
    EXPECT_NE(logText().find("KITEFILE: Block parsing mismatch in number of blocks. (2 != 3)"),
              std::string::npos);
}

TEST_F(KiteImageTest, BlockRunningPastThePayloadIsNotAdded)
{
    Bytes plain;
    put32(plain, 2);
    plain += block(1, addressed(0x100, "good"));
    plain += Bytes("\x01\x00\x00\x10\x00", 5) + "short";  // declares 4096 content bytes
    const std::string path = write("past.kite", image(plain));
    KiteFile kite(path);
    ASSERT_EQ(kite.blockCount(), 1u);
    EXPECT_EQ(kite.blocks()[0].address, 0x100u);
    EXPECT_NE(kite.parseRemainder(), 0);
    EXPECT_NE(logText().find("KITEFILE: Block parsing mismatch in data size."), std::string::npos);
}

TEST_F(KiteImageTest, TinyPayloadsReadNothingOutside)
{
    for (const Bytes& plain : {Bytes(), Bytes("\x00", 1), Bytes("\x00\x00\x00\x01\x01", 5),
                               Bytes("\x00\x00\x00\x01\x02\x00\x00\x00\x02xy", 11)}) {
        EXPECT_NO_THROW({
            KiteFile k(write("tiny.kite", image(plain)));
            EXPECT_FALSE(k.hasOffsets() && k.serialAddress() != 0);
        });
    }
}

TEST_F(KiteImageTest, DescriptorTextsAndMatches)
{
    KiteFile kite(write("d.kite", image(payload(1, {descriptor("2.12.1 beta", "40F5849A", "SelectorCPlus")}))));
    EXPECT_EQ(kite.version(), "2.12.1");
    EXPECT_TRUE(kite.matchesModel("SelectorC"));
    EXPECT_TRUE(kite.matchesModel("SelectorCPlus"));
    EXPECT_FALSE(kite.matchesModel("SelectorCPlusX"));
    EXPECT_FALSE(kite.matchesModel("Other"));
    EXPECT_TRUE(kite.matchesSerial(0x40F5849A));
    EXPECT_FALSE(kite.matchesSerial(0x40F5849B));
    EXPECT_NE(logText().find("Model matches model number ([SelectorCPlus] == [SelectorC])"), std::string::npos);
}

TEST_F(KiteImageTest, WithoutDescriptorNothingMatches)
{
    KiteFile kite(write("nod.kite", image(payload(1, {block(1, addressed(0, "x"))}))));
    EXPECT_EQ(kite.version(), "");
    EXPECT_FALSE(kite.matchesModel(""));
    EXPECT_TRUE(kite.matchesSerial(0));
    EXPECT_FALSE(kite.matchesSerial(1));
}

TEST_F(KiteImageTest, ShortDescriptorReadsAsAbsent)
{
    KiteFile kite(write("sd.kite", image(payload(1, {block(4, field("x") + "1.2.3")}))));
    EXPECT_EQ(kite.blockCount(), 1u);
    EXPECT_EQ(kite.version(), "");
}

Bytes offsets(uint32_t serialAddress, uint32_t descriptorAddress)
{
    Bytes content;
    put32(content, serialAddress);
    put32(content, descriptorAddress);
    return block(2, content);
}

TEST_F(KiteImageTest, SerialNumberGoesIntoTheFirmware)
{
    const Bytes code(64, '\xEE');
    KiteFile kite(write("s.kite", image(payload(2, {offsets(0x1010, 0x1020), block(1, addressed(0x1000, code))}))));
    ASSERT_TRUE(kite.hasOffsets());
    EXPECT_EQ(kite.serialAddress(), 0x1010u);
    EXPECT_EQ(kite.descriptorAddress(), 0x1020u);
    ASSERT_TRUE(kite.setSerialNumber(0x0012ABCD));
    const uint8_t* c = kite.blocksOfType(1).at(0).data + 4;
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(c + 0x10), 4), Bytes("\xCD\xAB\x12\x00", 4));
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(c + 0x20), 16),
              Bytes("0\xEE" "0\xEE" "1\xEE" "2\xEE" "A\xEE" "B\xEE" "C\xEE" "D\xEE", 16));
    EXPECT_EQ(c[0x0F], 0xEE);
    EXPECT_EQ(c[0x14], 0xEE);
}

TEST_F(KiteImageTest, SerialInsertionCountsWithoutCoveringBlock)
{
    KiteFile outside(write("o.kite", image(payload(2, {offsets(0x9000, 0), block(1, addressed(0x1000, "code"))}))));
    EXPECT_TRUE(outside.setSerialNumber(1));
    KiteFile noFirmware(write("nf.kite", image(payload(1, {offsets(0x9000, 0)}))));
    EXPECT_FALSE(noFirmware.setSerialNumber(1));
    KiteFile descriptorOutside(write("do.kite", image(payload(2, {offsets(0, 0x9000), block(1, addressed(0x1000, "code"))}))));
    EXPECT_FALSE(descriptorOutside.setSerialNumber(1));
}

TEST_F(KiteImageTest, ChipTransformChainsAndIsNotAnInvolution)
{
    const Bytes code("\x00\x00\x10\x20", 4);
    const Bytes plain = payload(2, {block(0, addressed(0, "LL")), block(1, addressed(0x400, code))});
    KiteFile kite(write("c.kite", image(plain)));
    const uint32_t id[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
    ASSERT_TRUE(kite.applyChipIdentifier(id));
    const uint8_t* c = kite.blocksOfType(1).at(0).data + 4;
    // c0 = 01^00^00, c1 = 02^00^01, c2 = 03^10^03, c3 = 04^20^10
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(c), 4), Bytes("\x01\x03\x10\x34", 4));
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(kite.blocksOfType(0).at(0).data + 4), 2), "LL");
    kite.applyChipIdentifier(id);
    EXPECT_NE(Bytes(reinterpret_cast<const char*>(c), 4), code);
}

TEST_F(KiteImageTest, MovedImageKeepsItsBlocks)
{
    KiteFile first(write("m.kite", image(payload(1, {block(1, addressed(0x20, "moved"))}))));
    const uint8_t* data = first.blocks()[0].data;
    KiteFile second(std::move(first));
    KiteFile third;
    third = std::move(second);
    ASSERT_EQ(third.blockCount(), 1u);
    EXPECT_EQ(third.blocks()[0].data, data);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(third.blocks()[0].data) + 4, 5), "moved");
    EXPECT_EQ(first.blockCount(), 0u);  // a moved-from image is empty
}

}  // namespace
