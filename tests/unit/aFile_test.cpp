// Files in their three open modes, on real files in a temporary directory.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "aFile.h"

namespace {

using hxtest::TempDir;

struct FileCloser {
    aFile* f;
    ~FileCloser() {
        if (f) aFile_Close(&f);
    }
};

TEST(aFile, OpenRefusals) {
    TempDir tmp;
    EXPECT_EQ(aFile_Open(nullptr, 0), nullptr);
    EXPECT_EQ(aFile_Open((tmp / "x").c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open((tmp / "x").c_str(), -1), nullptr);
    EXPECT_EQ(aFile_Open((tmp / "missing").c_str(), aFileModeReadOnly), nullptr);
    EXPECT_EQ(aFile_Open(tmp.path().c_str(), aFileModeReadOnly), nullptr);  // a directory
    std::string tooLong(PATH_MAX + 1, 'a');
    EXPECT_EQ(aFile_Open(("/" + tooLong).c_str(), aFileModeWriteOnly), nullptr);
}

TEST(aFile, WriteTruncatesAppendAddsAtTheEnd) {
    TempDir tmp;
    const std::string path = tmp / "f";
    hxtest::writeFile(path, "old contents");
    {
        FileCloser w{aFile_Open(path.c_str(), aFileModeWriteOnly)};
        ASSERT_NE(w.f, nullptr);
        size_t written = 0;
        EXPECT_EQ(aFile_Write(w.f, "abc", 3, &written), aErrNone);
        EXPECT_EQ(written, 3u);
        // Write-through: the bytes are in the file before the handle is closed.
        EXPECT_EQ(hxtest::readFile(path), "abc");
    }
    {
        FileCloser a{aFile_Open(path.c_str(), aFileModeAppend)};
        ASSERT_NE(a.f, nullptr);
        uint32_t pos = 99;
        EXPECT_EQ(aFile_GetPosition(a.f, &pos), aErrNone);
        EXPECT_EQ(pos, 3u);
        EXPECT_EQ(aFile_Printf(a.f, "-%d-%s", 42, "x"), aErrNone);
    }
    EXPECT_EQ(hxtest::readFile(path), "abc-42-x");
    FileCloser created{aFile_Open((tmp / "new").c_str(), aFileModeAppend)};
    EXPECT_NE(created.f, nullptr);
    EXPECT_TRUE(aFile_Exists((tmp / "new").c_str()));
}

TEST(aFile, ModesRefuseTheWrongDirection) {
    TempDir tmp;
    const std::string path = tmp / "f";
    hxtest::writeFile(path, "data");
    FileCloser r{aFile_Open(path.c_str(), aFileModeReadOnly)};
    FileCloser w{aFile_Open((tmp / "g").c_str(), aFileModeWriteOnly)};
    ASSERT_TRUE(r.f && w.f);
    char buf[8];
    size_t n = 0;
    EXPECT_EQ(aFile_Write(r.f, "x", 1, &n), aErrMode);
    EXPECT_EQ(aFile_Printf(r.f, "x"), aErrMode);
    EXPECT_EQ(aFile_Read(w.f, buf, sizeof buf, &n), aErrMode);
    EXPECT_EQ(aFile_ReadLine(w.f, buf, sizeof buf, &n), aErrMode);
    EXPECT_EQ(aFile_SetUnbuffered(r.f), aErrMode);
}

TEST(aFile, ReadReportsEndOfFile) {
    TempDir tmp;
    hxtest::writeFile(tmp / "f", "hello");
    FileCloser r{aFile_Open((tmp / "f").c_str(), aFileModeReadOnly)};
    ASSERT_NE(r.f, nullptr);
    char buf[16];
    size_t n = 0;
    EXPECT_EQ(aFile_Read(r.f, buf, sizeof buf, &n), aErrNone);
    EXPECT_EQ(std::string(buf, n), "hello");
    EXPECT_EQ(aFile_Read(r.f, buf, sizeof buf, &n), aErrEOF);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(aFile_Read(r.f, buf, 0, &n), aErrNone);
    EXPECT_EQ(aFile_Read(r.f, nullptr, 1, &n), aErrParam);
}

TEST(aFile, ReadLineKeepsLineEndingsAndRepositions) {
    TempDir tmp;
    hxtest::writeFile(tmp / "f", std::string("ab\r\ncd", 6));
    FileCloser r{aFile_Open((tmp / "f").c_str(), aFileModeReadOnly)};
    ASSERT_NE(r.f, nullptr);
    char buf[16];
    size_t len = 0;
    EXPECT_EQ(aFile_ReadLine(r.f, buf, sizeof buf, &len), aErrNone);
    EXPECT_EQ(len, 4u);
    EXPECT_STREQ(buf, "ab\r\n");
    EXPECT_EQ(aFile_ReadLine(r.f, buf, sizeof buf, &len), aErrNone);
    EXPECT_EQ(len, 2u);
    EXPECT_STREQ(buf, "cd");
    EXPECT_EQ(aFile_ReadLine(r.f, buf, sizeof buf, &len), aErrEOF);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(buf, "");
}

TEST(aFile, ReadLineOverrunGivesTheFirstPartAndContinuesAfterIt) {
    TempDir tmp;
    hxtest::writeFile(tmp / "f", std::string(20, 'x') + "\nnext\n");
    FileCloser r{aFile_Open((tmp / "f").c_str(), aFileModeReadOnly)};
    ASSERT_NE(r.f, nullptr);
    char buf[8];
    size_t len = 0;
    EXPECT_EQ(aFile_ReadLine(r.f, buf, sizeof buf, &len), aErrOverrun);
    EXPECT_EQ(len, 7u);
    EXPECT_STREQ(buf, "xxxxxxx");
    uint32_t pos = 0;
    EXPECT_EQ(aFile_GetPosition(r.f, &pos), aErrNone);
    EXPECT_EQ(pos, 7u);
}

TEST(aFile, SeekWithinTheFileOnly) {
    TempDir tmp;
    hxtest::writeFile(tmp / "f", "0123456789");
    FileCloser r{aFile_Open((tmp / "f").c_str(), aFileModeReadOnly)};
    ASSERT_NE(r.f, nullptr);
    struct SeekCase {
        int32_t offset;
        int origin;
        aErr result;
        uint32_t position;  // afterwards
    };
    const SeekCase cases[] = {
        {10, aSeekStart, aErrNone, 10}, {11, aSeekStart, aErrRange, 10}, {-1, aSeekStart, aErrRange, 10},
        {-3, aSeekCurrent, aErrNone, 7}, {2, aSeekCurrent, aErrNone, 9}, {2, aSeekCurrent, aErrRange, 9},
        {-10, aSeekEnd, aErrNone, 0},  {-11, aSeekEnd, aErrRange, 0},   {1, aSeekEnd, aErrRange, 0},
        {4, 7, aErrNone, 4},  // any other origin counts from the start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " from " << c.origin);
        EXPECT_EQ(aFile_Seek(r.f, c.offset, c.origin), c.result);
        uint32_t pos = 0;
        EXPECT_EQ(aFile_GetPosition(r.f, &pos), aErrNone);
        EXPECT_EQ(pos, c.position);
    }
    uint32_t size = 0;
    EXPECT_EQ(aFile_GetSize(r.f, &size), aErrNone);
    EXPECT_EQ(size, 10u);
}

TEST(aFile, InvalidHandlesAreRefused) {
    aFile* none = nullptr;
    char buf[4];
    size_t n;
    uint32_t v;
    EXPECT_EQ(aFile_Close(&none), aErrParam);
    EXPECT_EQ(aFile_Close(nullptr), aErrParam);
    EXPECT_EQ(aFile_Read(nullptr, buf, 1, &n), aErrParam);
    EXPECT_EQ(aFile_Write(nullptr, buf, 1, &n), aErrParam);
    EXPECT_EQ(aFile_Seek(nullptr, 0, 0), aErrParam);
    EXPECT_EQ(aFile_GetSize(nullptr, &v), aErrParam);

    TempDir tmp;
    aFile* f = aFile_Open((tmp / "f").c_str(), aFileModeWriteOnly);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
    EXPECT_EQ(f, nullptr);
}

TEST(aFile, ExistsAndDelete) {
    TempDir tmp;
    const std::string path = tmp / "f";
    hxtest::writeFile(path, "x");
    EXPECT_TRUE(aFile_Exists(path.c_str()));
    EXPECT_FALSE(aFile_Exists(tmp.path().c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists(path.c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    EXPECT_EQ(aFile_Delete(tmp.path().c_str()), aErrPermission);
}

TEST(aFile, PrintfRefusesATextThatDoesNotFitItsBuffer) {
    TempDir tmp;
    FileCloser w{aFile_Open((tmp / "f").c_str(), aFileModeWriteOnly)};
    ASSERT_NE(w.f, nullptr);
    std::string big(70000, 'y');
    EXPECT_EQ(aFile_Printf(w.f, "%s", big.c_str()), aErrIO);
    EXPECT_EQ(hxtest::readFile(tmp / "f"), "");
}

}  // namespace
