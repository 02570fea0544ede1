#include "UpdaterDisplay.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t kMessageBufferSize = 2048;  // longer texts are cut to 2047 characters
constexpr int kEraseWidth = 88;
constexpr int kBarWidth = 69;
constexpr char kBarFill[] = "=====================================================================";
static_assert(sizeof kBarFill - 1 == kBarWidth);

uint32_t gDiagnosticMask = 0;
FILE* gDiagnosticStream = nullptr;
uint8_t gActivityStep = 0;

void formatMessage(char (&buffer)[kMessageBufferSize], const char* format, va_list arguments)
{
    // vsnprintf already cuts at the buffer's end and terminates the text.
    if (vsnprintf(buffer, sizeof buffer, format, arguments) < 0)
        buffer[0] = '\0';
}

// Progress drawing would only litter a file or a pipe.
bool stdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

void eraseLine()
{
    fprintf(stdout, "\r%*s\r", kEraseWidth, " ");
}

}  // namespace

CLI_Display::CLI_Display()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::endProgress(bool keep)
{
    if (stdoutIsTerminal() && !keep)
        eraseLine();
}

void CLI_Display::showProgress(double fraction, const char* label)
{
    if (!stdoutIsTerminal())
        return;
    // Out-of-range fractions (and NaN) would overrun the bar or convert undefinedly.
    if (!(fraction >= 0.0))
        fraction = 0.0;
    fraction = std::min(fraction, 1.0);
    const int percent = static_cast<int>(fraction * 100);
    if (label == nullptr) {
        const int filled = static_cast<int>(fraction * kBarWidth);
        const int pad = kBarWidth - 1 - filled;
        fprintf(stdout, "\r[%.*s>%*s] (%3d%% ) ", filled, kBarFill, pad, "", percent);
        return;
    }
    // A label too long for the bar leaves a bar of no room rather than a garbled line.
    const int room = std::max(0, kBarWidth - 4 - static_cast<int>(strlen(label)));
    const int filled = static_cast<int>(room * fraction);
    const int pad = room - filled - 1;
    fprintf(stdout, "\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, kBarFill, pad,
            "", percent);
}

void CLI_Display::showActivity(bool active, const char* label)
{
    if (!stdoutIsTerminal())
        return;
    if (!active) {
        eraseLine();
        return;
    }
    static const char* const kDots[8] = {".", "..", "...", "....", ".....", "....", "...", ".."};
    const char* dots = kDots[gActivityStep];
    if (label != nullptr)
        fprintf(stdout, "\r (%s) %s      \r", label, dots);
    else
        fprintf(stdout, "\r %s      \r", dots);
    gActivityStep = static_cast<uint8_t>((gActivityStep + 1) % 8);
}

void CLI_Display::showInfo(const char* line)
{
    fprintf(stdout, "%s\n", line);
}

void CLI_Display::showError(const char* line)
{
    fprintf(stderr, "%s\n", line);
}

void displayPrintf(UpdaterDisplayInterface& display, int level, const char* format, ...)
{
    char text[kMessageBufferSize];
    va_list arguments;
    va_start(arguments, format);
    formatMessage(text, format, arguments);
    va_end(arguments);
    if (level == 1)
        display.showError(text);
    else
        display.showInfo(text);
}

void debugPrintf(uint32_t mask, const char* format, ...)
{
    if (mask != 0 && (mask & gDiagnosticMask) == 0)
        return;
    char text[kMessageBufferSize];
    va_list arguments;
    va_start(arguments, format);
    formatMessage(text, format, arguments);
    va_end(arguments);
    if (gDiagnosticStream != nullptr)
        fwrite(text, 1, strlen(text), gDiagnosticStream);
}

void debugAddMask(uint32_t bits)
{
    gDiagnosticMask |= bits;
}

void debugSetStream(FILE* stream)
{
    gDiagnosticStream = stream;
}
