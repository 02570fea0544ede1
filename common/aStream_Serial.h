/* Serial streams: raw bytes over a serial port, and link packets framed with a CRC-8 and COBS.
   The port name is a device path such as "/dev/ttyUSB0". */
#ifndef HALCYONIX_ASTREAM_SERIAL_H
#define HALCYONIX_ASTREAM_SERIAL_H

#include <stdint.h>

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Baud rate indexes 0..7: 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400. */
#define aSERIAL_BAUD_COUNT 8

/* Opens the port raw at the indexed rate: `parity` 0 none, else odd with checking; `sevenBits`
   and `twoStopBits` 0 or 1. The port's settings are restored when the stream is destroyed.
   Reads return at once (aErrNotReady when nothing has arrived). aErrParam, aErrRange (baud
   index), aErrMode (bits), aErrMemory, aErrIO (the port cannot be opened or set up),
   aErrResource. */
aErr aStream_CreateSerial(const char* portName, uint32_t baudIndex, int parity, int sevenBits,
                          int twoStopBits, aStream** stream);
/* The same port set-up carrying one link packet per frame: the packet's wire image, its
   CRC-8/MAXIM, COBS-encoded, ended by a zero byte. Reads wait up to about 100 ms for a byte,
   deliver a good frame's packet bytes one by one, and give aErrPacket once for a bad frame.
   writeProc takes whole packet images (a part waits for the rest in the next call); bytes that
   cannot be a packet image give aErrPacket and the rest of that block is dropped. */
aErr aStream_CreateSerial_Packetized(const char* portName, uint32_t baudIndex, int parity,
                                     int sevenBits, int twoStopBits, aStream** stream);

#ifdef __cplusplus
}
#endif

#endif
