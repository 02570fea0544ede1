// What the user reads (the display) and the masked diagnostic channel.
#pragma once

#include <cstdint>
#include <cstdio>

// Diagnostic mask bits, set with -X.
enum : uint32_t {
    DEBUG_Updater = 0x00000001,
    DEBUG_History = 0x00000002,
    DEBUG_Attributes = 0x00000004,
    DEBUG_KiteFile = 0x00000008,
    DEBUG_Network_Legacy = 0x00000010,
    DEBUG_ServerComm = 0x00000020,
    DEBUG_Network = 0x00000100,
    DEBUG_Network_SR = 0x00000200,
    DEBUG_Network_FIRM = 0x00000400,
    DEBUG_NXPSerial = 0x00001000,
    DEBUG_NXPSerial_E = 0x00002000,
    DEBUG_NXPSerial_SR = 0x00004000,
    DEBUG_APP = 0x00010000,
    DEBUG_iMXSerial = 0x10000000,
};

// The display every workflow reports through; it never writes to the console itself.
class UpdaterDisplayInterface {
public:
    virtual void endProgress(bool keep) = 0;
    virtual void showProgress(double fraction, const char* label) = 0;
    virtual void showActivity(bool active, const char* label) = 0;
    virtual void showInfo(const char* line) = 0;
    virtual void showError(const char* line) = 0;
};

// The console display: information on standard output, errors on standard error, progress
// drawing only when standard output is a terminal.
class CLI_Display : public UpdaterDisplayInterface {
public:
    CLI_Display();
    void endProgress(bool keep) override;
    void showProgress(double fraction, const char* label) override;
    void showActivity(bool active, const char* label) override;
    void showInfo(const char* line) override;
    void showError(const char* line) override;
};

// Level 1 goes to showError, any other level to showInfo.
void displayPrintf(UpdaterDisplayInterface& display, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Written when mask is 0 or shares a bit with the process-wide diagnostic mask.
void debugPrintf(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
void debugAddMask(uint32_t bits);
void debugSetStream(FILE* stream);
