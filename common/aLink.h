/* The link engine: every open link of the process, addressed by a link id (0 = none), shared by
   use counts; per link a reader thread that turns the stream's bytes into packets, keeps the
   stream aligned with the module and answers its heartbeats, and a writer thread that sends
   the packets callers queue. Callers exchange packets only through the link's queues. */
#ifndef HALCYONIX_ALINK_H
#define HALCYONIX_ALINK_H

#include <stdbool.h>
#include <stdint.h>

#include "aError.h"
#include "aPacket.h"
#include "aPacketFifo.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum linkStatus {
    linkStopped = 0,  /* initialised with a stream, workers not running */
    linkStarting = 1,
    linkRunning = 2,  /* synchronised; packets flow */
    linkStopping = 3,
    linkSyncing = 4,  /* aligning the byte stream with the module */
    linkInvalid = 5,  /* no stream; also the status of an id that is not registered */
    linkIOError = 6,  /* the last stream read failed */
    linkError = 8     /* the inbound queue refused a received packet */
} linkStatus;

/* Creation: the new or shared link id, 0 on failure (nothing is left registered then). */
uint32_t aLink_CreateUSB(uint32_t serialNumber);
/* `address` is an IPv4 address in network byte order. */
uint32_t aLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint16_t port);
/* A packetized serial link; baud rates 2400 to 230400 of the standard series only. */
uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate);
/* A link over a stream the caller built; the stream belongs to the link from now on, also
   when the creation fails. */
uint32_t aLink_Create(aStream* stream);

/* Releases one use and sets the id to 0; the last use tears the link down. aErrParam for an
   unregistered id. */
aErr aLink_Destroy(uint32_t* linkId);
/* Stops the link, opens a new stream of the same transport and starts it again. */
aErr aLink_Reset(uint32_t linkId);
linkStatus aLink_GetStatus(uint32_t linkId);

/* Queues a copy for sending; the caller keeps its packet. */
aErr aLink_PutPacket(uint32_t linkId, const aPacket* packet);
/* Received packets; the caller owns what it gets. The Get forms never block. */
aPacket* aLink_GetPacket(uint32_t linkId);
aPacket* aLink_GetFirst(uint32_t linkId, aPacketFilter filter, void* reference);
aPacket* aLink_AwaitPacket(uint32_t linkId, uint32_t timeoutMs);
/* Waits while the link runs; a reset of the link does not end the wait. */
aPacket* aLink_AwaitFirst(uint32_t linkId, aPacketFilter filter, void* reference, uint32_t timeoutMs);
uint32_t aLink_DrainPackets(uint32_t linkId, aPacketFilter filter, void* reference);

/* A filter that sees every complete received packet first, on the reader thread: non-zero
   consumes it. It must not block nor wait for packets of the same link. NULL removes it. */
aErr aLink_InstallUserPacketFilter(uint32_t linkId, aPacketFilter filter, void* reference);
/* Pooled: the writer sends all queued packets (up to 4096 bytes) in one stream write. */
aErr aLink_EnablePooledPackets(uint32_t linkId, bool pooled);

/* The packet log: records of sent (tag 1) and received (tag 2) packets and markers. */
aErr aLink_PacketDebug_SetLogSize(uint32_t linkId, int32_t size);
aErr aLink_PacketDebug_Enable(uint32_t linkId);
aErr aLink_PacketDebug_Disable(uint32_t linkId);
aErr aLink_PacketDebug_Write(uint32_t linkId, uint8_t tag, uint32_t length, const uint8_t* bytes);
/* `length`: the buffer's capacity in, the record's length out. */
aErr aLink_PacketDebug_Read(uint32_t linkId, uint8_t* tag, uint32_t* length, uint8_t* buffer);

/* The identification exchange: the module's address from its answer to an identification
   request, then its model from a UEI get. aErrTimeout without an answer within 1000 ms each,
   aErrIO for an unexpected answer. `model` may be NULL to skip the second step. */
aErr aLink_GetDeviceInfo(uint32_t linkId, uint8_t* moduleAddress, uint8_t* model);

#ifdef __cplusplus
}
#endif

#endif
