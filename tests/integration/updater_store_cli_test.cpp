// -L, -I and -C as a user runs them, on a store in a temporary folder filled with images the
// kite tool packed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

class UpdaterStoreCliTest : public ::testing::Test {
protected:
    hxtest::RunResult updater(std::vector<std::string> words)
    {
        words.insert(words.begin(), hxtest::programPath("Updater"));
        hxtest::RunOptions options;
        options.env["HOME"] = dir_.path();
        return hxtest::run(words, options);
    }
    // A kite image of the version packed by the kite tool into the module's directory.
    void storeImage(const std::string& serial, const std::string& name, const std::string& version)
    {
        std::filesystem::create_directories(moduleDir(serial));
        const std::string codeFile = dir_.path() + "/code.bin";
        hxtest::writeFile(codeFile, "firmware code");
        const hxtest::RunResult packed =
            hxtest::run({hxtest::programPath("kite"), "pack", "-o", moduleDir(serial) + "/" + name, "--firmware",
                         "0x8000," + codeFile, "--descriptor", version + "," + serial + ",SelectorC"});
        ASSERT_EQ(packed.status, 0) << packed.err;
    }
    std::string moduleDir(const std::string& serial) const { return root_ + "/" + serial; }
    static std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> all;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            all.push_back(text.substr(start, end - start));
        return all;
    }

    hxtest::TempDir dir_;
    std::string base_ = dir_.path() + "/voltaris";
    std::string root_ = base_ + "/updater";
};

TEST_F(UpdaterStoreCliTest, LocalBuildsNewestFirst)
{
    storeImage("40F5849A", "100.kite", "2.10.4");
    storeImage("40F5849A", "200.kite", "2.12.1");
    storeImage("40F5849A", "150.kite", "2.9.0");
    const hxtest::RunResult result = updater({"-L", "-d", "40F5849A", "-i", base_});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> out = lines(result.out);
    ASSERT_EQ(out.size(), 7u) << result.out;
    EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.end()),
              (std::vector<std::string>{"Build List for device [40F5849A]:", "", "Build          \tVersion        ",
                                        "200            \t2.12.1         ", "100            \t2.10.4         ",
                                        "150            \t2.9.0          "}));
}

TEST_F(UpdaterStoreCliTest, LocalBuildsOfUnknownModuleAndRootThatIsAFile)
{
    const hxtest::RunResult none = updater({"-L", "-d", "1234", "-i", base_});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("No builds found for device [00001234]\n"), std::string::npos);

    const hxtest::RunResult missingSerial = updater({"-L", "-i", base_});
    EXPECT_EQ(missingSerial.status, 1);
    EXPECT_NE(missingSerial.err.find("Error must supply a serial number for the List Local Builds command"),
              std::string::npos);
}

TEST_F(UpdaterStoreCliTest, InfoOfOneModuleListsAttributesAndImages)
{
    storeImage("40F5849A", "100.kite", "2.10.4");
    hxtest::writeFile(moduleDir("40F5849A") + "/.settings", "LATEST_DOWNLOAD=100.kite\nB=2\n");
    hxtest::writeFile(moduleDir("40F5849A") + "/notes.txt", "hello");
    const hxtest::RunResult result = updater({"-I", "-d", "40F5849A", "-i", base_});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> out = lines(result.out);
    ASSERT_GE(out.size(), 7u) << result.out;
    EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.begin() + 6),
              (std::vector<std::string>{"Device [40F5849A]", "Directory: " + moduleDir("40F5849A"), "Attributes:",
                                        "    B=2", "    LATEST_DOWNLOAD=100.kite"}));
    EXPECT_NE(result.out.find("Images:\n"), std::string::npos);
    EXPECT_NE(result.out.find("    100.kite       \t2.10.4\n"), std::string::npos);
    EXPECT_NE(result.out.find("    notes.txt      \t(not a kite image)\n"), std::string::npos);
    EXPECT_EQ(hxtest::readFile(moduleDir("40F5849A") + "/.settings"), "LATEST_DOWNLOAD=100.kite\nB=2\n");
}

TEST_F(UpdaterStoreCliTest, InfoNeverWrites)
{
    storeImage("40F5849A", "100.kite", "2.10.4");  // a module directory without attributes
    const hxtest::RunResult known = updater({"-I", "-d", "40F5849A", "-i", base_});
    EXPECT_EQ(known.status, 0);
    EXPECT_NE(known.out.find("Attributes: none\n"), std::string::npos);
    EXPECT_FALSE(hxtest::pathExists(moduleDir("40F5849A") + "/.settings"));

    const hxtest::RunResult unknown = updater({"-I", "-d", "11111111", "-i", base_});
    EXPECT_EQ(unknown.status, 0);
    EXPECT_NE(unknown.out.find("No record of device [11111111] in " + root_ + "\n"), std::string::npos);
    EXPECT_FALSE(hxtest::pathExists(moduleDir("11111111")));
}

TEST_F(UpdaterStoreCliTest, InfoWithoutSerialListsEveryModule)
{
    storeImage("40F5849A", "100.kite", "2.10.4");
    hxtest::writeFile(moduleDir("40F5849A") + "/.settings", "LATEST_DOWNLOAD=100.kite\nLATEST_TRANSFER=99.kite\n");
    std::filesystem::create_directories(moduleDir("00001234"));
    const hxtest::RunResult result = updater({"-I", "-i", base_});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Devices recorded in " + root_ + ":\n"), std::string::npos);
    EXPECT_NE(result.out.find("40F5849A       \t100.kite       \t99.kite        \n"), std::string::npos);
    EXPECT_NE(result.out.find("00001234       \t               \t               \n"), std::string::npos);
    EXPECT_FALSE(hxtest::pathExists(moduleDir("00001234") + "/.settings"));

    hxtest::TempDir empty;
    const hxtest::RunResult none = updater({"-I", "-i", empty.path()});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("No devices recorded in " + empty.path() + "/updater\n"), std::string::npos);
}

TEST_F(UpdaterStoreCliTest, CheckStatusAndRunOrder)
{
    storeImage("40F5849A", "100.kite", "2.10.4");
    const std::string good = moduleDir("40F5849A") + "/100.kite";
    const hxtest::RunResult passed = updater({"-C", "-f", good});
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_NE(passed.out.find("Descriptor: [kite pack       ] [2.10.4          ] [40F5849A        ] [SelectorC       ]\n"),
              std::string::npos);

    const hxtest::RunResult noFile = updater({"-C"});
    EXPECT_EQ(noFile.status, 1);
    EXPECT_NE(noFile.err.find("-C must name the kite file to check with -f"), std::string::npos);

    // A failed check is still the run's status after a local build list that succeeds.
    hxtest::writeFile(dir_.path() + "/bad.kite", "nonsense");
    const hxtest::RunResult both = updater({"-C", "-f", dir_.path() + "/bad.kite", "-L", "-d", "40F5849A", "-i", base_});
    EXPECT_EQ(both.status, 1);
    EXPECT_NE(both.err.find("Not a kite file: " + dir_.path() + "/bad.kite"), std::string::npos);
    EXPECT_EQ(both.out.find("Kite file:"), std::string::npos);
    EXPECT_NE(both.out.find("Build List for device [40F5849A]:"), std::string::npos);

    // A failed download before a successful view stays the run's status.
    const hxtest::RunResult afterDownload = updater({"-G", "-I", "-d", "40F5849A", "-i", base_});
    EXPECT_EQ(afterDownload.status, 1);
    EXPECT_NE(afterDownload.out.find("Device [40F5849A]\n"), std::string::npos);
}

}  // namespace
