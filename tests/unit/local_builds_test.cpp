// The local build list and the version order, on a store in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DebugCapture.h"
#include "KiteBuilder.h"
#include "LocalBuilds.h"
#include "RecordingDisplay.h"
#include "TestSupport.h"

namespace {

TEST(SplitVersion, ExactlyThreePieces)
{
    EXPECT_EQ(splitVersion("2.12.1"), (std::vector<std::string>{"2", "12", "1"}));
    EXPECT_EQ(splitVersion("1..3"), (std::vector<std::string>{"1", "", "3"}));
    EXPECT_TRUE(splitVersion("").empty());
    EXPECT_TRUE(splitVersion("1.2").empty());
    EXPECT_TRUE(splitVersion("1.2.3.4").empty());
}

struct OrderCase {
    const char* name;
    const char* a;
    const char* b;
    bool aFirst;
};

class VersionOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrder, NewerGoesFirst)
{
    EXPECT_EQ(_sortVersion({"a", GetParam().a}, {"b", GetParam().b}), GetParam().aFirst);
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionOrder,
    ::testing::Values(OrderCase{"NewerMinor", "2.12.1", "2.10.4", true},
                      OrderCase{"OlderMinor", "2.9.0", "2.10.4", false},
                      OrderCase{"Equal", "1.2.3", "1.2.3", false},
                      OrderCase{"WrapsAt256", "2.300.1", "2.44.1", false},
                      OrderCase{"WrapsAt256Reverse", "2.44.1", "2.300.1", false},
                      OrderCase{"LeadingDigitsOnly", "1.2.12abc", "1.2.11", true},
                      OrderCase{"OneWithoutVersion", "1.2", "1.2.3", false},
                      OrderCase{"OtherWithoutVersion", "1.2.3", "1.2", false},
                      OrderCase{"NeitherVersion", "", "x", false},
                      OrderCase{"NotANumber", "1.x.3", "0.0.1", false},
                      OrderCase{"OutOfRange", "99999999999.0.0", "0.0.1", false}),
    [](const auto& info) { return std::string(info.param.name); });

class LoggedTest : public ::testing::Test {
protected:
    std::string logText() { return log_.text(); }
    hxtest::DebugCapture log_{DEBUG_ServerComm | DEBUG_Updater};
};

TEST_F(LoggedTest, ConversionFailuresAreLogged)
{
    EXPECT_FALSE(_sortVersion({"a", "1.2"}, {"b", "1.2.3"}));
    EXPECT_FALSE(_sortVersion({"a", "1.x.3"}, {"b", "1.2.3"}));
    EXPECT_FALSE(_sortVersion({"a", "1.2.3"}, {"b", "1.2.99999999999"}));
    const std::string text = logText();
    EXPECT_NE(text.find("_sortVersion: Exception converting version: invalid vector subscript\n"), std::string::npos);
    EXPECT_NE(text.find("_sortVersion: Exception converting version: invalid stoi argument\n"), std::string::npos);
    EXPECT_NE(text.find("_sortVersion: Exception converting version: stoi argument out of range\n"), std::string::npos);
}

TEST(SortBuildEntries, UnversionedEntriesStayAndNewestLeads)
{
    std::vector<BuildEntry> entries = {{"1", "1.0.0"}, {"2", ""}, {"3", "3.0.0"}, {"4", "2.0.0"}, {"5", "notes"}};
    sortBuildEntries(entries);
    std::vector<std::string> order;
    for (const auto& entry : entries)
        order.push_back(entry.first);
    EXPECT_EQ(order, (std::vector<std::string>{"3", "1", "2", "4", "5"}));
}

// Lists longer than the insertion-sort limit, mixed with entries that compare false both
// ways: every entry survives, and the versioned ones end newest first.
TEST(SortBuildEntries, LongMixedListsKeepEveryEntry)
{
    for (size_t count : {33u, 100u, 1000u}) {
        std::vector<BuildEntry> entries;
        for (size_t i = 0; i < count; ++i) {
            const std::string version = i % 7 == 0 ? "" : std::to_string(i * 37 % 251) + ".0." + std::to_string(i % 5);
            entries.emplace_back(std::to_string(i), version);
        }
        std::vector<BuildEntry> sorted = entries;
        sortBuildEntries(sorted);
        ASSERT_EQ(sorted.size(), count);
        std::vector<BuildEntry> a = entries, b = sorted;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b) << count;
    }
    std::vector<BuildEntry> versioned;
    for (int i = 0; i < 200; ++i)
        versioned.emplace_back(std::to_string(i), "1." + std::to_string(i * 53 % 200) + ".0");
    sortBuildEntries(versioned);
    for (size_t i = 1; i < versioned.size(); ++i)
        EXPECT_FALSE(_sortVersion(versioned[i], versioned[i - 1])) << i;
}

class LocalBuildsTest : public LoggedTest {
protected:
    std::string module(const std::string& serial)
    {
        const std::string path = root_ + "/" + serial;
        std::filesystem::create_directories(path);
        return path;
    }
    hxtest::TempDir dir_;
    std::string root_ = dir_.path() + "/updater";
    hxtest::RecordingDisplay display_;
    UpdaterApp app_{"", root_, display_};
};

TEST_F(LocalBuildsTest, PrintsNewestFirstUnderTheHeading)
{
    const std::string dir = module("40F5849A");
    hxtest::writeFile(dir + "/100.kite", hxtest::kite::versionedImage("2.10.4"));
    hxtest::writeFile(dir + "/200.kite", hxtest::kite::versionedImage("2.12.1"));
    hxtest::writeFile(dir + "/150.kite", hxtest::kite::versionedImage("2.9.0"));
    hxtest::writeFile(dir + "/notes.txt", "not an image");
    hxtest::writeFile(dir + "/12345678901234567890.kite", "kite\x01\x01 truncated");
    const BuildList builds = app_.Get_BuildListLocal(0x40F5849A);
    EXPECT_EQ(builds, (BuildList{{"100", "2.10.4"}, {"12345678901234567890", ""}, {"150", "2.9.0"},
                                 {"200", "2.12.1"}, {"notes.txt", ""}}));
    PrintBuildList(display_, builds, 0x40F5849A);
    EXPECT_EQ(display_.infos,
              (std::vector<std::string>{"Build List for device [40F5849A]:\n",
                                        "Build          \tVersion        ",
                                        "200            \t2.12.1         ",
                                        "100            \t2.10.4         ",
                                        "123456789012345\t               ",
                                        "150            \t2.9.0          ",
                                        "notes.txt      \t               "}));
    EXPECT_NE(logText().find("Could NOT file VERSION in kitefile: " + dir + "/notes.txt\n"), std::string::npos);
}

TEST_F(LocalBuildsTest, BackupNameSharesTheBuild)
{
    const std::string dir = module("40F5849A");
    hxtest::writeFile(dir + "/300.kite.bak", hxtest::kite::versionedImage("1.0.0"));
    hxtest::writeFile(dir + "/300.kite", hxtest::kite::versionedImage("2.0.0"));
    const BuildList builds = app_.Get_BuildListLocal(0x40F5849A);
    ASSERT_EQ(builds.size(), 1u);
    EXPECT_TRUE(builds.at("300") == "1.0.0" || builds.at("300") == "2.0.0");
}

TEST_F(LocalBuildsTest, NothingStoredPrintsNoBuilds)
{
    module("40F5849A");
    hxtest::writeFile(root_ + "/40F5849A/.settings", "A=1\n");
    EXPECT_TRUE(app_.Get_BuildListLocal(0x40F5849A).empty());
    EXPECT_TRUE(app_.Get_BuildListLocal(0x11111111).empty());
    PrintBuildList(display_, {}, 0x11111111);
    EXPECT_EQ(display_.infos, (std::vector<std::string>{"No builds found for device [11111111]"}));
}

}  // namespace
