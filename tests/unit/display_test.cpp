// The display and the diagnostic channel: level routing, the 2047-character cut, the mask
// rules, and progress drawing on a real pseudo-terminal against output redirected to a file.
#include <gtest/gtest.h>

#include "RecordingDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>

#include "TestSupport.h"
#include "UpdaterDisplay.h"

namespace {

// Collects what a diagnostic stream received.
class DiagnosticCapture {
public:
    DiagnosticCapture() : file_(tmpfile()) { debugSetStream(file_); }
    ~DiagnosticCapture()
    {
        debugSetStream(nullptr);
        fclose(file_);
    }
    std::string text()
    {
        fflush(file_);
        std::string all;
        rewind(file_);
        for (int c; (c = fgetc(file_)) != EOF;)
            all += static_cast<char>(c);
        return all;
    }

private:
    FILE* file_;
};

// The mask is process-wide and never cleared, so each test uses bits of its own that no
// other test sets.
TEST(Diagnostics, MaskedMessagesOnlyWithTheirBitAndMaskZeroAlways)
{
    constexpr uint32_t kBitA = 0x01000000, kBitB = 0x02000000;
    DiagnosticCapture capture;
    debugPrintf(kBitA, "a%d\n", 1);
    debugPrintf(0, "always\n");
    EXPECT_EQ(capture.text(), "always\n");

    debugAddMask(kBitA | 0x04000000);
    debugPrintf(kBitA, "a%d\n", 2);
    debugPrintf(kBitB, "b\n");
    debugPrintf(kBitB | kBitA, "either\n");
    EXPECT_EQ(capture.text(), "always\na2\neither\n");

    debugAddMask(kBitB);
    debugPrintf(kBitA, "a still\n");
    debugPrintf(kBitB, "b now\n");
    EXPECT_EQ(capture.text(), "always\na2\neither\na still\nb now\n") << "bits are never cleared";
}

TEST(Diagnostics, WithoutAStreamTheTextIsDropped)
{
    debugSetStream(nullptr);
    debugPrintf(0, "nowhere %s\n", "at all");  // must not crash
    DiagnosticCapture capture;
    EXPECT_EQ(capture.text(), "");
}

TEST(Diagnostics, LongTextIsCutTo2047Characters)
{
    DiagnosticCapture capture;
    const std::string long3000(3000, 'x');
    debugPrintf(0, "%s", long3000.c_str());
    EXPECT_EQ(capture.text(), std::string(2047, 'x'));
}

using hxtest::RecordingDisplay;

TEST(DisplayPrintf, LevelOneIsAnErrorAndEveryOtherLevelInformation)
{
    RecordingDisplay display;
    displayPrintf(display, 1, "bad %08X", 0x1Au);
    displayPrintf(display, 0, "good %s", "news");
    displayPrintf(display, 2, "also info");
    displayPrintf(display, -1, "and this");
    EXPECT_EQ(display.errors, std::vector<std::string>{"bad 0000001A"});
    EXPECT_EQ(display.infos, (std::vector<std::string>{"good news", "also info", "and this"}));

    displayPrintf(display, 0, "%s%s", std::string(2000, 'a').c_str(), std::string(1000, 'b').c_str());
    EXPECT_EQ(display.infos.back(), std::string(2000, 'a') + std::string(47, 'b'));
}

// Points standard output at another descriptor while a test draws, then puts it back.
class StdoutRedirect {
public:
    explicit StdoutRedirect(int fd) : saved_(dup(STDOUT_FILENO))
    {
        fflush(stdout);
        dup2(fd, STDOUT_FILENO);
    }
    ~StdoutRedirect()
    {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

std::string readAvailable(int fd)
{
    std::string text;
    char buffer[4096];
    pollfd waiter{fd, POLLIN, 0};
    while (poll(&waiter, 1, 200) == 1 && (waiter.revents & POLLIN)) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

class TerminalDrawing : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);  // no CR/LF translation: we compare bytes
        tcsetattr(slave_, TCSANOW, &raw);
    }
    void TearDown() override
    {
        close(slave_);
        close(master_);
    }
    template <typename Draw> std::string drawn(Draw draw)
    {
        {
            StdoutRedirect redirect(slave_);
            draw();
        }
        return readAvailable(master_);
    }
    CLI_Display display_;
    int master_ = -1, slave_ = -1;
};

TEST_F(TerminalDrawing, ProgressBarWithoutLabel)
{
    EXPECT_EQ(drawn([&] { display_.showProgress(0.5, nullptr); }),
              "\r[" + std::string(34, '=') + ">" + std::string(34, ' ') + "] ( 50% ) ");
    EXPECT_EQ(drawn([&] { display_.showProgress(1.0, nullptr); }),
              "\r[" + std::string(69, '=') + "> ] (100% ) ");
    EXPECT_EQ(drawn([&] { display_.showProgress(0.0, nullptr); }),
              "\r[>" + std::string(68, ' ') + "] (  0% ) ");
}

TEST_F(TerminalDrawing, ProgressBarWithLabelHasTheSameWidth)
{
    const std::string withLabel = drawn([&] { display_.showProgress(0.5, "Downloading"); });
    EXPECT_EQ(withLabel, "\r (Downloading) [" + std::string(27, '=') + ">" + std::string(26, ' ') +
                             "] ( 50% ) ");
    const std::string without = drawn([&] { display_.showProgress(0.5, nullptr); });
    EXPECT_EQ(withLabel.size(), without.size());
}

TEST_F(TerminalDrawing, OutOfRangeFractionsAndLongLabelsStayOneLine)
{
    EXPECT_EQ(drawn([&] { display_.showProgress(7.0, nullptr); }),
              "\r[" + std::string(69, '=') + "> ] (100% ) ");
    EXPECT_EQ(drawn([&] { display_.showProgress(-1.0, nullptr); }),
              "\r[>" + std::string(68, ' ') + "] (  0% ) ");
    const std::string label(70, 'L');
    EXPECT_EQ(drawn([&] { display_.showProgress(0.5, label.c_str()); }),
              "\r (" + label + ") [> ] ( 50% ) ");
}

TEST_F(TerminalDrawing, ActivityCyclesThroughEightStepsAndErases)
{
    // Bring the shared step back to 0 whatever ran before: it advances once per drawing.
    std::string first;
    for (int i = 0; i < 8 && first != "\r .      \r"; ++i)
        first = drawn([&] { display_.showActivity(true, nullptr); });
    ASSERT_EQ(first, "\r .      \r");
    const char* const expected[] = {"..", "...", "....", ".....", "....", "...", "..", "."};
    for (const char* dots : expected)
        EXPECT_EQ(drawn([&] { display_.showActivity(true, nullptr); }), std::string("\r ") + dots + "      \r");
    EXPECT_EQ(drawn([&] { display_.showActivity(true, "Downloading"); }), "\r (Downloading) ..      \r");

    const std::string erase = "\r" + std::string(88, ' ') + "\r";
    EXPECT_EQ(drawn([&] { display_.showActivity(false, "Downloading"); }), erase);
    EXPECT_EQ(drawn([&] { display_.endProgress(false); }), erase);
    EXPECT_EQ(drawn([&] { display_.endProgress(true); }), "");
}

TEST(RedirectedDrawing, FileGetsOnlyTheInformationLines)
{
    hxtest::TempDir dir;
    const std::string path = dir / "out.txt";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    CLI_Display display;
    {
        StdoutRedirect redirect(fd);
        display.showProgress(0.5, "Downloading");
        display.showActivity(true, nullptr);
        display.showActivity(false, nullptr);
        display.endProgress(false);
        display.showInfo("first line");
        displayPrintf(display, 0, "second %d", 2);
    }
    close(fd);
    EXPECT_EQ(hxtest::readFile(path), "first line\nsecond 2\n");
}

}  // namespace
