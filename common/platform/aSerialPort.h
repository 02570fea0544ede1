// Serial ports behind the serial streams: open a named device path raw, with its settings saved
// for the close; reads that return at once, a bounded wait for input, bounded writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aPlatform {

struct SerialPort;

struct SerialLine {
    uint32_t baud;
    bool oddParity;   // odd parity with input checking, else none
    bool sevenBits;   // else eight
    bool twoStopBits; // else one
};

// NULL when the path cannot be opened, is not a terminal or does not take the settings.
SerialPort* openSerialPort(const char* path, const SerialLine& line);
// Puts the settings back as they were at open and closes; false when the restore failed.
bool closeSerialPort(SerialPort* port);

enum class SerialRead { Byte, Nothing, Failed };
// Takes one byte if one has arrived, without waiting.
SerialRead readSerialByte(SerialPort* port, uint8_t* byte);
enum class SerialWait { Input, Quiet, HungUp };
// Waits up to timeoutMs for input; HungUp when the other end is gone or the port failed.
SerialWait waitSerialInput(SerialPort* port, uint32_t timeoutMs);
// Writes every byte; false on failure or when the port took nothing for a whole second.
bool writeSerial(SerialPort* port, const uint8_t* bytes, size_t count);

}  // namespace aPlatform
