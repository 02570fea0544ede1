// The kite tool against the program's reader: images packed by the tool load in the program,
// and "kite info" and "Updater -C" print the same summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KiteBuilder.h"
#include "KiteImage.h"
#include "TestSupport.h"

namespace {

class KiteToolTest : public ::testing::Test {
protected:
    hxtest::RunResult kite(std::vector<std::string> words)
    {
        words.insert(words.begin(), hxtest::programPath("kite"));
        return hxtest::run(words);
    }
    hxtest::RunResult check(const std::string& file)
    {
        hxtest::RunOptions options;
        options.env["HOME"] = dir_.path();
        return hxtest::run({hxtest::programPath("Updater"), "-C", "-f", file}, options);
    }
    std::string packed(const std::string& name, std::vector<std::string> parts)
    {
        const std::string out = dir_.path() + "/" + name;
        parts.insert(parts.begin(), {"pack", "-o", out});
        const hxtest::RunResult result = kite(parts);
        EXPECT_EQ(result.status, 0) << result.err;
        return out;
    }
    std::string code(const std::string& bytes)
    {
        const std::string path = dir_.path() + "/code" + std::to_string(++codes_) + ".bin";
        hxtest::writeFile(path, bytes);
        return path;
    }
    // The program's standard output after its banner line.
    static std::string afterBanner(const std::string& out) { return out.substr(out.find('\n') + 1); }

    hxtest::TempDir dir_;
    int codes_ = 0;
};

TEST_F(KiteToolTest, PackedImageLoadsWithEveryPart)
{
    const std::string file = packed("full.kite",
        {"--header", "0x0203", "--loader", "0x10000000," + code("BOOT"), "--firmware",
         "0x8000," + code(std::string(64, '\x11')) + ",5", "--offsets", "0x8010,0x8020", "--descriptor",
         "2.12.1,40F5849A,SelectorCPlus", "--entry", "0x10000004"});
    ASSERT_TRUE(isKiteFile(file.c_str()));
    KiteFile image(file);
    EXPECT_TRUE(image.parsedCleanly());
    EXPECT_EQ(image.headerWord(), 0x0203);
    ASSERT_EQ(image.blockCount(), 5u);
    EXPECT_EQ(image.blocks()[0].type, KITE_BlockLoader);
    EXPECT_EQ(image.blocks()[0].address, 0x10000000u);
    EXPECT_EQ(image.blocks()[1].flags, 5);
    EXPECT_EQ(image.blocks()[1].length, 68u);
    EXPECT_EQ(image.serialAddress(), 0x8010u);
    EXPECT_EQ(image.descriptorAddress(), 0x8020u);
    EXPECT_EQ(image.version(), "2.12.1");
    EXPECT_TRUE(image.matchesModel("SelectorC"));
    EXPECT_TRUE(image.matchesSerial(0x40F5849A));
    // The checksum kite pack documents: CRC-32 of the payload bytes before it.
    EXPECT_EQ(image.checksum(),
              static_cast<uint32_t>(crc32(0L, image.payload(), static_cast<uInt>(image.payloadLength() - 4))));
    EXPECT_TRUE(image.setSerialNumber(0x01020304));
}

TEST_F(KiteToolTest, InfoAndCheckPrintTheSameSummary)
{
    const std::vector<std::string> files = {
        packed("a.kite", {"--firmware", "0x400," + code("abc"), "--descriptor", "1.0.0,00001234,Model"}),
        packed("b.kite", {"--offsets", "1,2"}),
        packed("miscount.kite", {"--count", "3", "--firmware", "0x400," + code("abc")}),
    };
    for (const std::string& file : files) {
        const hxtest::RunResult info = kite({"info", file});
        const hxtest::RunResult checked = check(file);
        EXPECT_EQ(afterBanner(checked.out), info.out) << file;
        EXPECT_EQ(checked.status, info.status) << file;
        EXPECT_NE(info.out.find("Kite file: " + file + "\n"), std::string::npos);
    }
    const hxtest::RunResult miscount = check(files[2]);
    EXPECT_EQ(miscount.status, 1);
    EXPECT_NE(miscount.out.find("Mismatch: 1 blocks parsed, 3 declared\n"), std::string::npos);
    EXPECT_NE(miscount.err.find("Kite file " + files[2] + " has a block parsing mismatch\n"), std::string::npos);
    EXPECT_EQ(check(files[0]).status, 0);
}

TEST_F(KiteToolTest, BlockRunningPastThePayloadIsShownAlike)
{
    using namespace hxtest::kite;
    std::string plain;
    put32(plain, 2);
    plain += block(1, addressed(0x100, "good"));
    plain += std::string("\x01\x00\x00\x10\x00", 5) + "short";
    const std::string file = dir_.path() + "/past.kite";
    hxtest::writeFile(file, image(plain));
    const hxtest::RunResult info = kite({"info", file});
    const hxtest::RunResult checked = check(file);
    EXPECT_EQ(afterBanner(checked.out), info.out);
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(info.out.find("Blocks parsed: 1\n"), std::string::npos);
}

struct RefusedCase {
    const char* name;
    std::string bytes;
    const char* error;
};

class RefusedImage : public KiteToolTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedImage, CheckSaysWhyWithStatusOne)
{
    const std::string file = dir_.path() + "/bad.kite";
    hxtest::writeFile(file, GetParam().bytes);
    const hxtest::RunResult checked = check(file);
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.err.find(std::string(GetParam().error) + file + "\n"), std::string::npos) << checked.err;
    EXPECT_EQ(checked.out.find("Kite file:"), std::string::npos);
    const hxtest::RunResult info = kite({"info", file});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.err.find(std::string(GetParam().error) + file), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedImage,
    ::testing::Values(
        RefusedCase{"WrongMagic", hxtest::kite::image(hxtest::kite::payload(0, {}), "KITE\x01\x01"), "Not a kite file: "},
        RefusedCase{"ZeroHeaderByte", hxtest::kite::image(hxtest::kite::payload(0, {}), std::string("kite\x01\x00", 6)),
                    "Not a kite file: "},
        RefusedCase{"TruncatedStream", hxtest::kite::image(hxtest::kite::payload(1, {std::string(3000, 'x')})).substr(0, 20),
                    "Could not load kite file: "},
        RefusedCase{"ExpandsBeyondEightTimes",
                    hxtest::kite::image(hxtest::kite::payload(1, {hxtest::kite::block(3, std::string(50000, '\0'))})),
                    "Could not load kite file: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KiteToolTest, PackRefusesBadParts)
{
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"pack", "-o", dir_.path() + "/x.kite", "--firmware", "zz," + code("a")},
                                               {"pack", "-o", dir_.path() + "/x.kite", "--loader", "1,/no/such/file"},
                                               {"pack", "--entry", "1"},
                                               {"frobnicate"}}) {
        const hxtest::RunResult result = kite(words);
        EXPECT_EQ(result.status, 1) << words[0];
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_FALSE(hxtest::pathExists(dir_.path() + "/x.kite"));
}

}  // namespace
