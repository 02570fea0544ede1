/* The socket stream: a TCP connection to a network module or link server that reconnects by
   itself when the connection is lost. */
#ifndef HALCYONIX_ASTREAM_SOCKET_H
#define HALCYONIX_ASTREAM_SOCKET_H

#include <stdint.h>

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Connects to the IPv4 address (network byte order) and port; aErrResource, and no stream, for
   every failure. Reads wait up to about 100 ms for a byte (aErrNotReady when none came); a
   lost or closed connection is re-established by the next read or write, which reports
   aErrConnection when that fails. A write the peer does not take for about 600 ms gives
   aErrBusy. */
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream);

#ifdef __cplusplus
}
#endif

#endif
