// The attributes file on real files in a temporary directory.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "AttributesFile.h"
#include "TestSupport.h"

namespace {

class AttributesTest : public ::testing::Test {
protected:
    std::string fileWith(const std::string& text)
    {
        hxtest::writeFile(path_, text);
        return path_;
    }
    hxtest::TempDir dir_;
    std::string path_ = dir_.path() + "/.settings";
};

// "Fri Dec 11 14:05:09 2026": day names and months from the C locale, fixed columns.
bool isTimeText(const std::string& text)
{
    static const std::string days = "SunMonTueWedThuFriSat";
    static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    auto digits = [&](size_t at, size_t count) {
        for (size_t i = at; i < at + count; ++i)
            if (text[i] < '0' || text[i] > '9')
                return false;
        return true;
    };
    return text.size() == 24 && days.find(text.substr(0, 3)) % 3 == 0 &&
           days.find(text.substr(0, 3)) != std::string::npos && text[3] == ' ' &&
           months.find(text.substr(4, 3)) != std::string::npos && text[7] == ' ' &&
           (text[8] == ' ' || digits(8, 1)) && digits(9, 1) && text[10] == ' ' && digits(11, 2) &&
           text[13] == ':' && digits(14, 2) && text[16] == ':' && digits(17, 2) && text[19] == ' ' &&
           digits(20, 4);
}

// The value of "KEY=" at the start of a line of text; empty when absent.
std::string valueOf(const std::string& text, const std::string& key)
{
    const size_t at = text.find(key + "=");
    if (at == std::string::npos)
        return {};
    const size_t start = at + key.size() + 1;
    return text.substr(start, text.find('\n', start) - start);
}

TEST_F(AttributesTest, LoadRules)
{
    Attributes attributes(fileWith("  KEY  =  some value  \r\n"
                                   "A=1\nA=2\n"
                                   "#X=1\n #Y=2\n"
                                   "E=\n"
                                   "\n"
                                   "z\n"
                                   "bare key \n"));
    EXPECT_EQ(attributes.getText("KEY"), "some value");
    EXPECT_EQ(attributes.getText("A"), "2");
    EXPECT_EQ(attributes.getText("#X", "absent"), "absent");
    EXPECT_EQ(attributes.getText("#Y"), "2");
    EXPECT_EQ(attributes.getText("E", "d"), "");
    EXPECT_EQ(attributes.getNumber("E", 5), 5);
    EXPECT_EQ(attributes.getText("z", "absent"), "absent");  // shorter than 3 bytes
    EXPECT_EQ(attributes.getText("bare key", "absent"), "");
    EXPECT_FALSE(attributes.changed());
}

TEST_F(AttributesTest, OverLongLineEndsTheLoad)
{
    Attributes attributes(fileWith("A=1\nLONG=" + std::string(3000, 'x') + "\nB=2\n"));
    EXPECT_EQ(attributes.getText("A"), "1");
    EXPECT_EQ(attributes.getText("B", "absent"), "absent");
}

TEST_F(AttributesTest, SaveWritesKeysInByteOrderWithUpdatedTime)
{
    Attributes attributes(fileWith("B=2\nA=1\n"));
    attributes.setText("\xC3\xA9", "high byte");
    attributes.save();
    const std::string text = hxtest::readFile(path_);
    const std::string time = valueOf(text, "UPDATED_TIME");
    EXPECT_TRUE(isTimeText(time)) << time;
    EXPECT_EQ(text, "A=1\nB=2\nUPDATED_TIME=" + time + "\n\xC3\xA9=high byte\n");
    EXPECT_FALSE(attributes.changed());
}

TEST_F(AttributesTest, UnchangedValueWritesNoUpdatedTime)
{
    Attributes attributes(fileWith("A=1\n"));
    attributes.setText("A", "1");
    EXPECT_FALSE(attributes.changed());
    attributes.save();
    EXPECT_EQ(hxtest::readFile(path_), "A=1\n");
}

TEST_F(AttributesTest, GetNumberReadsLeadingDigitsAndAddsMissingKey)
{
    Attributes attributes(fileWith("D=99528558.kite\nN= -42x\nBIG=99999999999\nW=abc\n"));
    EXPECT_EQ(attributes.getNumber("D", 0), 99528558);
    EXPECT_EQ(attributes.getNumber("N", 0), -42);
    EXPECT_EQ(attributes.getNumber("BIG", 0), 2147483647);
    EXPECT_EQ(attributes.getNumber("W", 7), 0);
    EXPECT_EQ(attributes.getNumber("LATEST_DOWNLOAD", 0), 0);
    EXPECT_FALSE(attributes.changed());
    attributes.save();
    EXPECT_NE(hxtest::readFile(path_).find("LATEST_DOWNLOAD=\n"), std::string::npos);
}

TEST_F(AttributesTest, MissingFileIsCreatedWithTwoTimes)
{
    Attributes attributes(path_);
    const std::string text = hxtest::readFile(path_);
    const std::string created = valueOf(text, "CREATED_TIME");
    const std::string updated = valueOf(text, "UPDATED_TIME");
    EXPECT_TRUE(isTimeText(created)) << created;
    EXPECT_TRUE(isTimeText(updated)) << updated;
    EXPECT_EQ(text, "CREATED_TIME=" + created + "\nUPDATED_TIME=" + updated + "\n");
    EXPECT_FALSE(attributes.changed());
    EXPECT_EQ(attributes.path(), path_);
}

TEST_F(AttributesTest, LoadExistingNeverCreates)
{
    Attributes attributes;
    EXPECT_FALSE(attributes.loadExisting(path_));
    EXPECT_FALSE(hxtest::pathExists(path_));
}

// Sets or clears the immutable flag; false when this file system does not support it.
bool setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

TEST_F(AttributesTest, SaveIntoRefusingDirectoryKeepsOldFileAndChangedMark)
{
    Attributes attributes(fileWith("A=1\n"));
    attributes.setText("A", "2");
    if (!setImmutable(dir_.path(), true))
        GTEST_SKIP() << "no immutable directories here";
    attributes.save();
    ASSERT_TRUE(setImmutable(dir_.path(), false));
    EXPECT_EQ(hxtest::readFile(path_), "A=1\n");
    EXPECT_TRUE(attributes.changed());
    EXPECT_EQ(attributes.getText("A"), "2");
}

// A write that fails half-way (the file-size limit binds root too) must not truncate the file.
TEST_F(AttributesTest, WriteFailingHalfWayKeepsOldFile)
{
    const std::string old = "A=" + std::string(100, 'o') + "\n";
    Attributes attributes(fileWith(old));
    attributes.setText("B", std::string(8192, 'n'));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    attributes.save();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(hxtest::readFile(path_), old);
    EXPECT_TRUE(attributes.changed());
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                            std::filesystem::directory_iterator()), 1);
}

}  // namespace
