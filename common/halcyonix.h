/* The Halcyonix device library's function layer, for C and C++. */
#ifndef HALCYONIX_H
#define HALCYONIX_H

#include "aError.h"
#include "aDefs.h"
#include "aVersion.h"
#include "aDirectory.h"
#include "aFile.h"
#include "aTime.h"
#include "aMutex.h"
#include "aLogger.h"
#include "aPacket.h"
#include "aPacketFifo.h"
#include "aPacketLog.h"
#include "aStream.h"
#include "aStream_File.h"
#include "aStream_Serial.h"
#include "aStream_Socket.h"
#include "aStream_USB.h"
#include "aUSBBus.h"
#include "aLink.h"

#endif
