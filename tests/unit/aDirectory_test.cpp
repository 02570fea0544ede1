// Paths and directories on real folders in a temporary directory.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "aDirectory.h"

namespace {

using hxtest::TempDir;
const char* const END = nullptr;

struct JoinCase {
    const char* a;
    const char* b;
    const char* joined;
};

TEST(aDirectoryBuildPath, OneSeparatorBetweenComponents) {
    const JoinCase cases[] = {
        {"/a", "b", "/a/b"}, {"/a/", "b", "/a/b"}, {"/a", "/b", "/a/b"},
        {"a", "b", "a/b"},   {"/", "b", "/b"},     {"a", "", "a/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " + " + c.b);
        char dest[64];
        EXPECT_EQ(aDirectory_JoinPath(dest, sizeof dest, c.a, c.b), aErrNone);
        EXPECT_STREQ(dest, c.joined);
    }
}

TEST(aDirectoryBuildPath, TenComponentsAtMost) {
    char dest[128];
    EXPECT_EQ(aDirectory_BuildPath(dest, sizeof dest, "/r", "1", "2", "3", "4", "5", "6", "7", "8", "9", END),
              aErrNone);
    EXPECT_STREQ(dest, "/r/1/2/3/4/5/6/7/8/9");
    EXPECT_EQ(aDirectory_BuildPath(dest, sizeof dest, "/r", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", END),
              aErrParam);
}

TEST(aDirectoryBuildPath, DestinationMayNotBeAComponent) {
    char dest[64] = "/x";
    EXPECT_EQ(aDirectory_BuildPath(dest, sizeof dest, dest, "b", END), aErrParam);
    EXPECT_STREQ(dest, "");
    char other[64] = "/y";
    EXPECT_EQ(aDirectory_BuildPath(other, sizeof other, "/a", other, END), aErrParam);
}

TEST(aDirectoryBuildPath, OverrunLeavesWhatWasBuilt) {
    char dest[8];
    EXPECT_EQ(aDirectory_BuildPath(dest, sizeof dest, "1234567", END), aErrOverrun);  // size - 1
    EXPECT_EQ(aDirectory_BuildPath(dest, sizeof dest, "123456", END), aErrNone);      // size - 2
    EXPECT_STREQ(dest, "123456");
    EXPECT_EQ(aDirectory_JoinPath(dest, sizeof dest, "/ab", "cdef"), aErrOverrun);
    EXPECT_STREQ(dest, "/ab/");
    EXPECT_EQ(aDirectory_JoinPath(dest, sizeof dest, "/ab", "cd"), aErrNone);
    EXPECT_STREQ(dest, "/ab/cd");
}

TEST(aDirectory, ExistsIsTrueOnlyForDirectories) {
    TempDir tmp;
    hxtest::writeFile(tmp / "file", "x");
    EXPECT_TRUE(aDirectory_Exists(tmp.path().c_str()));
    EXPECT_FALSE(aDirectory_Exists((tmp / "file").c_str()));
    EXPECT_FALSE(aDirectory_Exists((tmp / "missing").c_str()));
    EXPECT_FALSE(aDirectory_Exists(nullptr));
    EXPECT_TRUE(aDirectory_Exists("."));
    EXPECT_TRUE(aDirectory_Exists("./"));
}

TEST(aDirectory, EnsureCreatesEveryMissingLevel) {
    TempDir tmp;
    const std::string deep = tmp / "one/two/three";
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_TRUE(aDirectory_Exists((tmp / "one").c_str()));
    EXPECT_TRUE(aDirectory_Exists((tmp / "one/two").c_str()));
    EXPECT_TRUE(aDirectory_Exists(deep.c_str()));
    // Again on the existing tree: nothing to do.
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_EQ(aDirectory_Ensure((deep + "/").c_str(), 0755), aErrNone);
}

TEST(aDirectory, EnsureFailsWhereAFileStandsOrNothingMayBeCreated) {
    TempDir tmp;
    hxtest::writeFile(tmp / "file", "x");
    EXPECT_EQ(aDirectory_Ensure((tmp / "file").c_str(), 0755), aErrPermission);
    EXPECT_EQ(aDirectory_Ensure((tmp / "file/below").c_str(), 0755), aErrPermission);
    if (geteuid() != 0) {  // root may write into read-only directories
        mkdir((tmp / "locked").c_str(), 0555);
        EXPECT_EQ(aDirectory_Ensure((tmp / "locked/a/b").c_str(), 0755), aErrPermission);
    }
}

bool collect(const aDirectoryEntry* entry, void* context) {
    auto* seen = static_cast<std::set<std::string>*>(context);
    std::string path = entry->path;
    seen->insert(path.substr(path.rfind('/') + 1) + (entry->isDirectory ? "/" : ":" + std::to_string(entry->size)));
    return true;
}

bool stopAtFirst(const aDirectoryEntry*, void* context) {
    ++*static_cast<int*>(context);
    return false;
}

TEST(aDirectory, ListShowsEveryEntryWithFullPathSizeAndKind) {
    TempDir tmp;
    hxtest::writeFile(tmp / "a.kite", "12345");
    mkdir((tmp / "sub").c_str(), 0755);
    std::set<std::string> seen;
    EXPECT_EQ(aDirectory_List(tmp.path().c_str(), collect, &seen), aErrNone);
    EXPECT_EQ(seen, (std::set<std::string>{"./", "../", "a.kite:5", "sub/"}));

    int calls = 0;
    EXPECT_EQ(aDirectory_List(tmp.path().c_str(), stopAtFirst, &calls), aErrNone);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(aDirectory_List((tmp / "missing").c_str(), collect, &seen), aErrParam);
}

TEST(aDirectory, DeleteAndDeleteTree) {
    TempDir tmp;
    const std::string root = tmp / "tree";
    ASSERT_EQ(aDirectory_Ensure((root + "/x/y").c_str(), 0755), aErrNone);
    hxtest::writeFile(root + "/f1", "1");
    hxtest::writeFile(root + "/x/f2", "2");
    hxtest::writeFile(root + "/x/y/f3", "3");
    EXPECT_EQ(aDirectory_Delete(root.c_str()), aErrUnknown);  // not empty
    EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrNone);
    EXPECT_FALSE(hxtest::pathExists(root));
    EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrParam);

    mkdir((tmp / "empty").c_str(), 0755);
    EXPECT_EQ(aDirectory_Delete((tmp / "empty").c_str()), aErrNone);
    EXPECT_EQ(aDirectory_Delete((tmp / "empty").c_str()), aErrUnknown);
}

TEST(aDirectory, WorkingDirectoryAndExecutable) {
    char buffer[PATH_MAX];
    ASSERT_EQ(aDirectory_CWD(buffer, sizeof buffer), aErrNone);
    char expected[PATH_MAX];
    ASSERT_NE(getcwd(expected, sizeof expected), nullptr);
    EXPECT_STREQ(buffer, expected);
    char tiny[2];
    EXPECT_EQ(aDirectory_CWD(tiny, sizeof tiny), aErrParam);

    ASSERT_EQ(aDirectory_ExecutableFilePath(buffer, sizeof buffer), aErrNone);
    EXPECT_NE(std::string(buffer).find("aDirectory_test"), std::string::npos);
}

// HOME is changed for the test and put back afterwards.
TEST(aDirectory, HomeDirectoryFromHomeElseThePasswordDatabase) {
    char buffer[PATH_MAX];
    const char* saved = getenv("HOME");
    std::string keep = saved ? saved : "";

    setenv("HOME", "/srv/someone", 1);
    EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, sizeof buffer), aErrNone);
    EXPECT_STREQ(buffer, "/srv/someone");
    char small[4];
    EXPECT_EQ(aDirectory_GetHomeDirectory(small, sizeof small), aErrOverrun);

    unsetenv("HOME");
    aErr e = aDirectory_GetHomeDirectory(buffer, sizeof buffer);
    // This machine's account has a home directory in the password database.
    EXPECT_EQ(e, aErrNone);
    EXPECT_GT(strlen(buffer), 0u);

    if (saved) setenv("HOME", keep.c_str(), 1);
    else unsetenv("HOME");
}

}  // namespace
