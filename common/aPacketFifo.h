/* Thread-safe packet queues addressed by 64-bit handles. */
#ifndef HALCYONIX_APACKETFIFO_H
#define HALCYONIX_APACKETFIFO_H

#include <stdint.h>

#include "aError.h"
#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Selects a packet when it returns non-zero. Runs with the queue locked: it must be quick and
   must not call into the same queue. */
typedef uint8_t (*aPacketFilter)(const aPacket* packet, void* reference);

/* A queue holds at most this many packets; a put beyond it discards the whole queue. */
#define aPACKETFIFO_CAPACITY 1000

/* Handle of a new empty queue; 0 on failure. Handles are never 0 and never reused. */
uint64_t aPacketFifo_Create(void);
/* Discards the queued packets, wakes every waiter (they return NULL) and zeroes the handle. */
aErr aPacketFifo_Destroy(uint64_t* handle);
/* Appends a copy; the caller keeps its packet. */
aErr aPacketFifo_Put(uint64_t handle, const aPacket* packet);
/* Takers own the packets they get and release them with aPacket_Destroy. */
aPacket* aPacketFifo_Get(uint64_t handle);
aPacket* aPacketFifo_GetFirst(uint64_t handle, aPacketFilter filter, void* reference);
/* Wait up to timeoutMs (0 polls); NULL on time-out, unknown handle or destruction. */
aPacket* aPacketFifo_Await(uint64_t handle, uint32_t timeoutMs);
/* Offers each packet to the filter at most once per call; rejected packets stay in order. */
aPacket* aPacketFifo_AwaitFirst(uint64_t handle, aPacketFilter filter, void* reference,
                                uint32_t timeoutMs);
/* Removes and destroys every packet the filter accepts; returns how many. */
uint32_t aPacketFifo_DrainPackets(uint64_t handle, aPacketFilter filter, void* reference);
uint32_t aPacketFifo_GetLength(uint64_t handle);

#ifdef __cplusplus
}
#endif

#endif
