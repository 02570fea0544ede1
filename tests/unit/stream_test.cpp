// The stream record: all-or-nothing reads over a transport that times out, the push-back ring,
// records and terminated strings, writes, flush and the file streams.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aStream.h"
#include "aStream_File.h"

namespace {

// A scripted transport: each step delivers a byte or a result code; an exhausted script is EOF.
struct Script {
    std::deque<std::pair<aErr, uint8_t>> steps;
    std::vector<uint8_t> written;
    int putCalls = 0;
    int writeCalls = 0;
    int deleteCalls = 0;

    void bytes(const std::string& text) {
        for (char c : text) steps.push_back({aErrNone, static_cast<uint8_t>(c)});
    }
    void result(aErr err) { steps.push_back({err, 0}); }
};

aErr scriptGet(uint8_t* byte, void* reference) {
    auto* script = static_cast<Script*>(reference);
    if (script->steps.empty()) return aErrEOF;
    auto [err, value] = script->steps.front();
    script->steps.pop_front();
    if (err == aErrNone) *byte = value;
    return err;
}
aErr scriptPut(const uint8_t* byte, void* reference) {
    auto* script = static_cast<Script*>(reference);
    ++script->putCalls;
    script->written.push_back(*byte);
    return aErrNone;
}
aErr scriptWrite(const uint8_t* bytes, size_t count, void* reference) {
    auto* script = static_cast<Script*>(reference);
    ++script->writeCalls;
    script->written.insert(script->written.end(), bytes, bytes + count);
    return aErrNone;
}
aErr scriptDelete(void* reference) {
    ++static_cast<Script*>(reference)->deleteCalls;
    return aErrNone;
}

class StreamTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (stream) aStream_Destroy(&stream);
    }
    Script script;
    aStream* stream = aStream_Create(scriptGet, scriptPut, scriptWrite, scriptDelete, &script);

    std::string readString(size_t count) {
        std::string text(count, '\0');
        EXPECT_EQ(aStream_Read(stream, text.data(), count), aErrNone);
        return text;
    }
    std::string written() const { return std::string(script.written.begin(), script.written.end()); }
};

TEST_F(StreamTest, ReadIsAllOrNothingAcrossATimeOut) {
    script.bytes("ab");
    script.result(aErrNotReady);
    char buffer[3] = {'x', 'x', 'x'};
    EXPECT_EQ(aStream_Read(stream, buffer, 3), aErrNotReady);
    EXPECT_EQ(std::string(buffer, 3), "xxx");
    script.bytes("c");
    EXPECT_EQ(readString(3), "abc");
}

TEST_F(StreamTest, OtherFailuresDropTheBytesOfTheCall) {
    script.bytes("ab");
    script.result(aErrIO);
    script.bytes("cd");
    char buffer[3] = {'x', 'x', 'x'};
    EXPECT_EQ(aStream_Read(stream, buffer, 3), aErrIO);
    EXPECT_EQ(std::string(buffer, 3), "xxx");
    EXPECT_EQ(readString(2), "cd");
}

TEST_F(StreamTest, PushBackBeyondOneRingGrowsInOrder) {
    std::string text;
    for (int i = 0; i < 1300; ++i) text.push_back(static_cast<char>('A' + i % 26));
    script.bytes(text);
    script.result(aErrNotReady);
    std::string buffer(1301, '\0');
    EXPECT_EQ(aStream_Read(stream, buffer.data(), buffer.size()), aErrNotReady);
    script.bytes("!");
    EXPECT_EQ(readString(1301), text + "!");
}

TEST_F(StreamTest, ReadToTheEndDeliversWhatCameBefore) {
    script.bytes("hi");
    char buffer[4] = {};
    EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrEOF);
    EXPECT_EQ(std::string(buffer, 2), "hi");
}

TEST_F(StreamTest, CStringReads) {
    script.bytes(std::string("hello\0x", 7));
    char buffer[8];
    ASSERT_EQ(aStream_ReadCString(stream, buffer, sizeof buffer), aErrNone);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(readString(1), "x");

    script.bytes("abcdefghij");
    ASSERT_EQ(aStream_ReadCString(stream, buffer, sizeof buffer), aErrNone);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(readString(3), "hij");

    EXPECT_EQ(aStream_ReadCString(stream, buffer, 1), aErrParam);  // no room for a character
}

TEST_F(StreamTest, RecordTerminatorBytesNeedNotBeAdjacent) {
    script.bytes("ab\rc\nd");
    char buffer[16];
    size_t length = 0;
    ASSERT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof buffer,
                                 reinterpret_cast<const uint8_t*>("\r\n"), 2), aErrNone);
    EXPECT_EQ(std::string(buffer, length), "abc");
    EXPECT_EQ(readString(1), "d");
}

TEST_F(StreamTest, RecordInterruptedByATimeOutIsReadWholeLater) {
    script.bytes("ab\r");
    script.result(aErrNotReady);
    char buffer[16];
    size_t length = 0;
    const auto* crlf = reinterpret_cast<const uint8_t*>("\r\n");
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof buffer, crlf, 2), aErrNotReady);
    script.bytes("\nz");
    ASSERT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof buffer, crlf, 2), aErrNone);
    EXPECT_EQ(std::string(buffer, length), "ab");
    EXPECT_EQ(readString(1), "z");
}

TEST_F(StreamTest, RecordAtTheEndOfTheSource) {
    char buffer[8];
    size_t length = 99;
    const uint8_t lf = '\n';
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof buffer, &lf, 1), aErrEOF);
    EXPECT_EQ(length, 0u);
    script.bytes("tail");
    ASSERT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof buffer, &lf, 1), aErrNone);
    EXPECT_EQ(std::string(buffer, length), "tail");
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, 0, &lf, 1), aErrParam);
}

TEST_F(StreamTest, WritesUseOneBlockCallOrSingleBytes) {
    ASSERT_EQ(aStream_Write(stream, "abc", 3), aErrNone);
    EXPECT_EQ(script.writeCalls, 1);
    EXPECT_EQ(script.putCalls, 0);
    ASSERT_EQ(aStream_Write(stream, "d", 1), aErrNone);
    EXPECT_EQ(script.putCalls, 1);
    ASSERT_EQ(aStream_Write(stream, "", 0), aErrNone);
    ASSERT_EQ(aStream_WriteCStringRecord(stream, "ok", "\n"), aErrNone);
    ASSERT_EQ(aStream_WriteCString(stream, "s"), aErrNone);
    ASSERT_EQ(aStream_WriteRecord(stream, "rec", 3, reinterpret_cast<const uint8_t*>("\r\n"), 2), aErrNone);
    EXPECT_EQ(written(), std::string("abcdok\n\0s\0rec\r\n", 15));
}

TEST(Stream, MissingOperationsGiveMode) {
    Script script;
    aStream* readOnly = aStream_Create(scriptGet, nullptr, nullptr, nullptr, &script);
    EXPECT_EQ(aStream_Write(readOnly, "ab", 2), aErrMode);
    EXPECT_EQ(aStream_WriteCString(readOnly, "ab"), aErrMode);
    aStream* writeOnly = aStream_Create(nullptr, scriptPut, nullptr, nullptr, &script);
    char byte;
    EXPECT_EQ(aStream_Read(writeOnly, &byte, 1), aErrMode);
    EXPECT_EQ(aStream_Flush(writeOnly, readOnly), aErrMode);
    EXPECT_EQ(aStream_Destroy(&readOnly), aErrNone);
    EXPECT_EQ(aStream_Destroy(&writeOnly), aErrNone);
}

TEST(Stream, DestroyRunsDeleteOnceAndNullsThePointer) {
    Script script;
    aStream* stream = aStream_Create(scriptGet, nullptr, nullptr, scriptDelete, &script);
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(script.deleteCalls, 1);
    EXPECT_EQ(aStream_Destroy(&stream), aErrParam);
    EXPECT_EQ(script.deleteCalls, 1);
    char byte;
    EXPECT_EQ(aStream_Read(nullptr, &byte, 1), aErrParam);
}

TEST(FileStream, FlushCopiesOneFileIntoAnother) {
    hxtest::TempDir dir;
    std::string content;
    for (int i = 0; i < 600; ++i) content.push_back(static_cast<char>(i * 7));
    hxtest::writeFile(dir / "in", content);
    aStream* in = nullptr;
    aStream* out = nullptr;
    ASSERT_EQ(aStream_CreateFileInput((dir / "in").c_str(), &in), aErrNone);
    ASSERT_EQ(aStream_CreateFileOutput((dir / "out").c_str(), &out), aErrNone);
    ASSERT_EQ(aStream_Flush(in, out), aErrNone);
    EXPECT_EQ(aStream_Destroy(&in), aErrNone);
    EXPECT_EQ(aStream_Destroy(&out), aErrNone);
    EXPECT_EQ(hxtest::readFile(dir / "out"), content);
}

TEST(FileStream, ReadPastTheEndAndFailuresToOpen) {
    hxtest::TempDir dir;
    hxtest::writeFile(dir / "two", "ab");
    aStream* in = nullptr;
    ASSERT_EQ(aStream_CreateFileInput((dir / "two").c_str(), &in), aErrNone);
    char buffer[4] = {};
    EXPECT_EQ(aStream_Read(in, buffer, 4), aErrEOF);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    aStream_Destroy(&in);

    aStream* missing = reinterpret_cast<aStream*>(&dir);
    EXPECT_EQ(aStream_CreateFileInput((dir / "none").c_str(), &missing), aErrResource);
    EXPECT_EQ(missing, nullptr);
    aStream* unwritable = reinterpret_cast<aStream*>(&dir);
    EXPECT_EQ(aStream_CreateFileOutput((dir / "no/such/dir").c_str(), &unwritable), aErrResource);
    EXPECT_EQ(unwritable, nullptr);
}

}  // namespace
