// The store on real directories in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "KiteBuilder.h"
#include "RecordingDisplay.h"
#include "Store.h"
#include "TestSupport.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store_ = openStore(display_, root_, "StoreTest");
        ASSERT_NE(store_, nullptr);
    }
    hxtest::TempDir dir_;
    std::string root_ = dir_.path() + "/updater";
    hxtest::RecordingDisplay display_;
    std::unique_ptr<UpdaterStore> store_;
};

TEST(JoinPath, AddsOneSeparatorPerPartAndNormalisesNothing)
{
    EXPECT_EQ(joinPath("a", "b"), "a/b");
    EXPECT_EQ(joinPath("a", "b", "c"), "a/b/c");
    EXPECT_EQ(joinPath("a", ""), "a/");
    EXPECT_EQ(joinPath("a/", "/b"), "a///b");
}

TEST_F(StoreTest, CreateDeviceMakesDirectoryWithSettings)
{
    StoreItem record = store_->CreateDevice(0x40F5849A);
    EXPECT_EQ(record.directory, root_);
    EXPECT_EQ(record.name, "40F5849A");
    EXPECT_TRUE(record.isDirectory);
    EXPECT_TRUE(hxtest::pathExists(root_ + "/40F5849A/.settings"));
    EXPECT_FALSE(record.attributes.getText("CREATED_TIME").empty());

    StoreItem found;
    EXPECT_TRUE(store_->FindDevice(0x40F5849A, &found));
    EXPECT_EQ(found.name, "40F5849A");
    EXPECT_FALSE(store_->FindDevice(0x40F5849B, nullptr));
}

TEST_F(StoreTest, SmallSerialIsStoredWithLeadingZeros)
{
    store_->CreateDevice(0x1234);
    EXPECT_TRUE(hxtest::pathExists(root_ + "/00001234"));
    EXPECT_TRUE(store_->FindDevice(0x1234, nullptr));
}

TEST_F(StoreTest, FileWhereTheModuleDirectoryShouldBe)
{
    hxtest::writeFile(root_ + "/40F5849A", "not a directory");
    StoreItem found;
    ASSERT_TRUE(store_->FindDevice(0x40F5849A, &found));
    EXPECT_FALSE(found.isDirectory);
    try {
        store_->CreateDevice(0x40F5849A);
        FAIL() << "CreateDevice accepted a file";
    } catch (const std::runtime_error& failure) {
        EXPECT_EQ(std::string(failure.what()), "UpdaterStore: " + root_ + "/40F5849A exists and is a file");
    }
    EXPECT_EQ(hxtest::readFile(root_ + "/40F5849A"), "not a directory");
}

TEST_F(StoreTest, NameContainingTheSerialMatches)
{
    ASSERT_EQ(::mkdir((root_ + "/old-40F5849A").c_str(), 0755), 0);
    StoreItem found;
    ASSERT_TRUE(store_->FindDevice(0x40F5849A, &found));
    EXPECT_EQ(found.name, "old-40F5849A");
}

TEST_F(StoreTest, ListingSkipsDotNames)
{
    StoreItem record = store_->CreateDevice(0x40F5849A);
    hxtest::writeFile(root_ + "/40F5849A/100.kite", hxtest::kite::versionedImage("1.0.0"));
    hxtest::writeFile(root_ + "/40F5849A/200.kite", hxtest::kite::versionedImage("2.0.0"));
    std::vector<StoreItem> items;
    store_->FindDevice(0x40F5849A, items);
    std::vector<std::string> names;
    for (const StoreItem& item : items)
        names.push_back(item.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"100.kite", "200.kite"}));
    std::vector<StoreItem> none;
    store_->FindDevice(0x11111111, none);
    EXPECT_TRUE(none.empty());
}

TEST_F(StoreTest, RootThatIsAFileIsReported)
{
    hxtest::writeFile(dir_.path() + "/plain", "x");
    EXPECT_EQ(openStore(display_, dir_.path() + "/plain", "Get_BuildListLocal"), nullptr);
    ASSERT_EQ(display_.errors.size(), 1u);
    EXPECT_EQ(display_.errors[0], "Failed to Create UpdaterStore in: Get_BuildListLocal - Exception: UpdaterStore: " +
                                      dir_.path() + "/plain exists and is a file");
}

TEST_F(StoreTest, RootThatCannotBeMadeNamesTheCode)
{
    hxtest::writeFile(dir_.path() + "/plain", "x");
    EXPECT_EQ(openStore(display_, dir_.path() + "/plain/below", "Download_Firmware"), nullptr);
    ASSERT_EQ(display_.errors.size(), 1u);
    const std::string& line = display_.errors[0];
    EXPECT_NE(line.find("UpdaterStore: Could not create directory " + dir_.path() + "/plain/below error "),
              std::string::npos);
}

TEST_F(StoreTest, WriteFileReplacesWholeAndRefusesNoBytes)
{
    StoreItem record = store_->CreateDevice(0x40F5849A);
    const std::string image = hxtest::kite::versionedImage("2.12.1");
    EXPECT_EQ(store_->writeFile(record, "5.kite", nullptr, 0), aErrNotFound);
    EXPECT_FALSE(hxtest::pathExists(root_ + "/40F5849A/5.kite"));
    hxtest::writeFile(root_ + "/40F5849A/5.kite", std::string(50000, 'o'));
    ASSERT_EQ(store_->writeFile(record, "5.kite", reinterpret_cast<const uint8_t*>(image.data()), image.size()),
              aErrNone);
    EXPECT_EQ(hxtest::readFile(root_ + "/40F5849A/5.kite"), image);
    KiteFile kite = store_->openKite(record, "5.kite");
    EXPECT_EQ(kite.version(), "2.12.1");
}

TEST_F(StoreTest, OpenKiteRefusesOtherFiles)
{
    StoreItem record = store_->CreateDevice(0x40F5849A);
    hxtest::writeFile(root_ + "/40F5849A/notes.txt", "hello");
    EXPECT_THROW(
        {
            try {
                store_->openKite(record, "notes.txt");
            } catch (const std::runtime_error& failure) {
                EXPECT_EQ(std::string(failure.what()), "Invalid kite " + root_ + "/40F5849A/notes.txt");
                throw;
            }
        },
        std::runtime_error);
    hxtest::writeFile(root_ + "/40F5849A/bad.kite", std::string("kite\x01\x01garbage", 13));
    EXPECT_THROW(store_->openKite(record, "bad.kite"), std::runtime_error);
}

}  // namespace
