/* Link packets: one module address and up to 28 data bytes. */
#ifndef HALCYONIX_APACKET_H
#define HALCYONIX_APACKET_H

#include <stdbool.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aPACKET_CHECKWORD 0xBEEF
#define aPACKET_MAX_DATA 28
/* Address byte, length byte and the data bytes. */
#define aPACKET_MAX_WIRE (aPACKET_MAX_DATA + 2)

typedef struct aPacket {
    uint16_t checkWord;   /* 0xBEEF while the packet lives */
    uint8_t byteCount;    /* wire bytes taken in so far, address and length included */
    uint8_t address;      /* destination when outbound, source when inbound; 0 is no address */
    uint8_t dataSize;     /* 0..28 */
    uint8_t data[aPACKET_MAX_DATA];
} aPacket;

/* A new empty packet, or NULL when memory is short. */
aPacket* aPacket_Create(void);
/* A whole packet; NULL for a null data pointer, a length above 28 or short memory. */
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
/* A copy of a valid packet, or NULL. */
aPacket* aPacket_Copy(const aPacket* packet);
/* Frees the packet and nulls the caller's pointer. */
aErr aPacket_Destroy(aPacket** packet);
/* Empties the packet for reuse; the check word stays. */
aErr aPacket_Reset(aPacket* packet);
/* Takes the next wire byte into a packet under assembly: address, length, then data.
   aErrPacket for a zero address, a length above 28 or a byte beyond the announced length,
   aErrOverrun from the 31st byte on. The caller resets the packet after every error. */
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
bool aPacket_IsComplete(const aPacket* packet);
/* True for a non-null packet that carries the check word. */
bool aVALIDPACKET(const aPacket* packet);
/* The wire image into the buffer; its length (dataSize + 2) through `length` when not NULL.
   aErrOverrun, writing nothing, when the buffer is too small. */
aErr aPacket_GetBytes(const aPacket* packet, uint8_t* buffer, uint32_t bufferSize, uint32_t* length);
/* UEI fields: the command (data byte 0), the option (low 6 bits of byte 1) and the index
   (low 5 bits of byte 2). aErrParam for a null output, aErrPacket for a missing byte. */
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command);
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

#ifdef __cplusplus
}
#endif

#endif
