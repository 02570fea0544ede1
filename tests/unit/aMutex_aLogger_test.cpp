// Recursive mutexes, the logger's worker thread, and the millisecond clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "aLogger.h"
#include "aMutex.h"
#include "aTime.h"

namespace {

using namespace std::chrono_literals;

TEST(aMutex, NamesUpTo255Characters) {
    aMutex* m = aMutex_Create(std::string(255, 'n').c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::string(aMutex_Identifier(m)), std::string(255, 'n'));
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(aMutex_Create(std::string(256, 'n').c_str()), nullptr);
    aMutex* unnamed = aMutex_Create(nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(aMutex_Identifier(unnamed), "");
    EXPECT_EQ(aMutex_Destroy(&unnamed), aErrNone);
}

TEST(aMutex, RecursiveForTheOwnerBusyForOthers) {
    aMutex* m = aMutex_Create("shared");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(aMutex_Lock(m), aErrNone);
    EXPECT_EQ(aMutex_TryLock(m), aErrNone);  // the owner again
    aErr other = aErrNone;
    aErr otherDestroy = aErrNone;
    std::thread([&] {
        other = aMutex_TryLock(m);
        aMutex* copy = m;
        otherDestroy = aMutex_Destroy(&copy);
    }).join();
    EXPECT_EQ(other, aErrBusy);
    EXPECT_EQ(otherDestroy, aErrBusy);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    std::thread([&] {
        other = aMutex_TryLock(m);
        if (other == aErrNone) aMutex_Unlock(m);
    }).join();
    EXPECT_EQ(other, aErrNone);
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
}

TEST(aMutex, LockExcludesOtherThreads) {
    aMutex* m = aMutex_Create("counter");
    ASSERT_NE(m, nullptr);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            aMutex_Lock(m);
            ++counter;
            aMutex_Unlock(m);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
}

TEST(aMutex, NullHandles) {
    aMutex* none = nullptr;
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Unlock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_TryLock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Destroy(&none), aErrParam);
    EXPECT_EQ(aMutex_Destroy(nullptr), aErrParam);
}

TEST(aMutex, DestroyReleasesTheCallersOwnLock) {
    aMutex* m = aMutex_Create("held");
    ASSERT_NE(m, nullptr);
    aMutex_Lock(m);
    aMutex_Lock(m);
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
    EXPECT_EQ(m, nullptr);
}

std::atomic<int> gPumpCalls{0};

void countingPump(aFile* file, uint32_t userValue) {
    if (gPumpCalls.fetch_add(1) < 3) aFile_Printf(file, "line %u\n", userValue);
    aTime_MSSleep(2);
}

TEST(aLogger, PumpsOnItsOwnThreadUntilDisabled) {
    hxtest::TempDir tmp;
    const std::string path = tmp / "packets.log";
    gPumpCalls = 0;
    aLogger* logger = aLogger_Create(7, countingPump, path.c_str());
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(gPumpCalls.load(), 0);  // stopped after creation
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);  // already running
    ASSERT_TRUE(hxtest::waitFor([] { return gPumpCalls.load() >= 5; }));
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    int afterStop = gPumpCalls.load();
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    EXPECT_EQ(gPumpCalls.load(), afterStop);
    EXPECT_EQ(hxtest::readFile(path), "line 7\nline 7\nline 7\n");

    EXPECT_EQ(aLogger_Enable(logger), aErrNone);  // can run again
    ASSERT_TRUE(hxtest::waitFor([&] { return gPumpCalls.load() > afterStop; }));
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_EQ(logger, nullptr);
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
}

TEST(aLogger, RefusesWhatItCannotOpenOrUse) {
    hxtest::TempDir tmp;
    EXPECT_EQ(aLogger_Create(0, countingPump, (tmp / "missing/dir/log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(0, nullptr, (tmp / "log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
}

TEST(aTime, TicksAreMonotonicMillisecondsAndSleepWaits) {
    uint32_t start = aTime_GetMSTicks();
    auto wallStart = std::chrono::steady_clock::now();
    EXPECT_EQ(aTime_MSSleep(30), aErrNone);
    uint32_t elapsed = aTime_GetMSTicks() - start;
    auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - wallStart);
    EXPECT_GE(elapsed, 29u);
    EXPECT_LE(elapsed, static_cast<uint32_t>(wall.count()) + 2);
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
}

}  // namespace
