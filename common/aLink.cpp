// The link engine: the registry of links, the reader and writer workers of each, the
// synchronisation exchange and the heartbeat answer.
#include "aLink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "aMutex.h"
#include "aPacketLog.h"
#include "aStream_Serial.h"
#include "aStream_Socket.h"
#include "aStream_USB.h"
#include "aTime.h"

namespace {

constexpr uint8_t kSyncAddress = 0xAD;
constexpr uint8_t kRouteAddress = 0xAF;
constexpr int kSyncRequestCount = 6;
constexpr uint32_t kPollMs = 10;
constexpr int kPollCount = 200;           // 2 s for a start or a forced synchronisation
constexpr uint32_t kWorkerEndMs = 5000;   // a stop waits this long for each worker
constexpr uint32_t kWriterAwaitMs = 1000;
constexpr uint32_t kReadErrorPauseMs = 100;
constexpr size_t kPoolBytes = 4096;
constexpr uint32_t kDefaultLogSize = 65536;
constexpr int32_t kMaxLogSize = 0x4000000;
constexpr int kResetAttempts = 20;
constexpr uint32_t kResetPauseMs = 100;
constexpr uint32_t kIdentifyWaitMs = 1000;

enum Transport : uint32_t { kCallerStream = 0, kUSB = 1, kTCPIP = 2, kSerial = 3, kClient = 4 };

enum SyncState : int {
    kSynchronised = 0,
    kSyncStateStart = 1,
    kSyncStateByte1 = 2,
    kSyncStateByte2 = 3,
    kSyncStateByte3 = 4,
    kSyncStateByte4 = 5
};

enum HeartbeatState : int { kHeartbeatIdle = 0, kAnsweringUp = 2, kAnsweringDown = 3 };

// Holds an aMutex for one scope.
class MutexHold {
public:
    explicit MutexHold(aMutex* mutex) : mutex_(mutex) { aMutex_Lock(mutex_); }
    ~MutexHold() { aMutex_Unlock(mutex_); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    aMutex* mutex_;
};

// The link's stream, shared with its workers: a worker that outlived its stop still holds it,
// and the last holder closes it.
class StreamOwner {
public:
    explicit StreamOwner(aStream* stream) : stream_(stream) {}
    ~StreamOwner() { aStream_Destroy(&stream_); }
    StreamOwner(const StreamOwner&) = delete;
    StreamOwner& operator=(const StreamOwner&) = delete;
    aStream* get() const { return stream_; }

private:
    aStream* stream_;
};
using StreamRef = std::shared_ptr<StreamOwner>;

struct aLinkRecord {
    uint32_t id = 0;
    std::atomic<bool> running{false};
    std::atomic<int> status{linkInvalid};
    std::atomic<uint64_t> inbound{0};
    aPacket* assembly = nullptr;
    std::atomic<uint64_t> outbound{0};
    std::thread reader, writer;
    std::atomic<bool> readerStarted{false}, writerStarted{false};
    StreamRef stream;
    int heartbeatState = kHeartbeatIdle;
    int syncState = kSynchronised;
    uint8_t syncByte = 1;
    aPacketLog* log = nullptr;  // guarded by logMutex
    uint32_t logSize = 0;
    aMutex* logMutex = nullptr;
    aPacketFilter userFilter = nullptr;  // guarded by userFilterMutex, with its reference
    void* userFilterReference = nullptr;
    aMutex* userFilterMutex = nullptr;
    std::atomic<bool> pooled{false};

    // How a stop learns, within a bound, that the workers have ended.
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool readerEnded = true, writerEnded = true;
    // Each start's workers carry its number, so that a worker that outlived its stop never
    // touches the link once a later start has begun.
    std::atomic<uint32_t> generation{0};
    // Set by a stop once its route request 0 is queued: the writer's last packet.
    std::atomic<bool> finalQueued{false};
    // Set while a reset replaces the stream, so that waiting callers keep waiting.
    std::atomic<bool> resetting{false};
};

struct aLinkEntry {
    uint32_t id = 0;
    uint32_t deviceLinkId = 0;
    void* server = nullptr;
    uint32_t identity[3] = {0, 0, 0};
    uint32_t transport = kCallerStream;
    int16_t useCount = 0;
    std::shared_ptr<aLinkRecord> record;
};

using EntryPtr = std::shared_ptr<aLinkEntry>;
using RecordPtr = std::shared_ptr<aLinkRecord>;

// The registry: newest first, ids never reused.
struct Registry {
    aMutex* mutex = aMutex_Create("aLink_Managed");
    std::list<EntryPtr> entries;
    uint32_t nextId = 1;
};

Registry& sRegistry()
{
    static Registry* registry = new Registry;  // lives as long as the process, as links may
    return *registry;
}

EntryPtr sFindEntry(uint32_t id)
{
    Registry& registry = sRegistry();
    MutexHold hold(registry.mutex);
    for (const EntryPtr& entry : registry.entries)
        if (entry->id == id)
            return entry;
    return nullptr;
}

RecordPtr sFindRecord(uint32_t id)
{
    EntryPtr entry = id ? sFindEntry(id) : nullptr;
    return entry ? entry->record : nullptr;
}

// Raises the use count of a link to the same module over the same transport. 0 when none;
// `refused` when that link is served by a sharing server and cannot be opened directly.
uint32_t sShare(uint32_t transport, uint32_t identity0, bool& refused)
{
    Registry& registry = sRegistry();
    MutexHold hold(registry.mutex);
    refused = false;
    for (const EntryPtr& entry : registry.entries) {
        if (entry->transport != transport || entry->identity[0] != identity0)
            continue;
        if (entry->server) {
            refused = true;
            return 0;
        }
        ++entry->useCount;
        return entry->id;
    }
    return 0;
}

EntryPtr sNewEntry(uint32_t transport, uint32_t identity0, uint32_t identity1, uint32_t identity2)
{
    auto entry = std::make_shared<aLinkEntry>();
    entry->record = std::make_shared<aLinkRecord>();
    entry->transport = transport;
    entry->identity[0] = identity0;
    entry->identity[1] = identity1;
    entry->identity[2] = identity2;
    char name[64];
    std::snprintf(name, sizeof name, "LOG_SEMA_%p", static_cast<void*>(entry->record.get()));
    entry->record->logMutex = aMutex_Create(name);
    std::snprintf(name, sizeof name, "aLink(%p)->userFilterSema", static_cast<void*>(entry->record.get()));
    entry->record->userFilterMutex = aMutex_Create(name);
    if (!entry->record->logMutex || !entry->record->userFilterMutex) {
        aMutex_Destroy(&entry->record->logMutex);
        aMutex_Destroy(&entry->record->userFilterMutex);
        return nullptr;
    }
    Registry& registry = sRegistry();
    MutexHold hold(registry.mutex);
    entry->id = registry.nextId++;
    entry->record->id = entry->id;
    registry.entries.push_front(entry);
    return entry;
}

// ---- packets and the log ----

uint32_t sWireImage(const aPacket* packet, uint8_t* buffer)
{
    uint32_t length = 0;
    aPacket_GetBytes(packet, buffer, aPACKET_MAX_WIRE, &length);
    return length;
}

void sLogPacket(aLinkRecord& record, uint8_t tag, const aPacket* packet)
{
    MutexHold hold(record.logMutex);
    // A disabled log keeps what it holds but records nothing more.
    if (!record.log || !record.log->enabled)
        return;
    uint8_t image[aPACKET_MAX_WIRE];
    uint32_t length = sWireImage(packet, image);
    aPacketLog_Put(record.log, tag, static_cast<uint8_t>(length), image);
}

aErr sPutNew(uint64_t queue, uint8_t address, uint8_t length, const uint8_t* data)
{
    static const uint8_t kNoData[1] = {0};
    aPacket* packet = aPacket_CreateWithData(address, length, data ? data : kNoData);
    if (!packet)
        return aErrMemory;
    aErr err = aPacketFifo_Put(queue, packet);
    aPacket_Destroy(&packet);
    return err;
}

aErr sForceRoute(aLinkRecord& record, uint8_t value)
{
    return sPutNew(record.outbound, kRouteAddress, 1, &value);
}

uint8_t sAcceptAll(const aPacket*, void*)
{
    return 1;
}

// ---- the reader ----

void sSyncStart(aLinkRecord& record)
{
    record.status = linkSyncing;
    record.syncState = kSyncStateStart;
    aPacket_Reset(record.assembly);
    aErr last = aErrNone;
    for (int i = 0; i < kSyncRequestCount; ++i)
        last = sPutNew(record.outbound, kSyncAddress, 0, nullptr);
    if (last == aErrNone)
        record.syncState = kSyncStateByte1;
}

// Synchronised after two consecutive empty packets from one even, non-zero address: the
// module's answers to the synchronisation requests.
void sSyncByte(aLinkRecord& record, uint8_t byte)
{
    switch (record.syncState) {
    case kSyncStateByte1:
        if (byte == 0 || (byte & 1)) {
            sSyncStart(record);
        } else {
            record.syncByte = byte;
            record.syncState = kSyncStateByte2;
        }
        break;
    case kSyncStateByte2:
        record.syncState = byte == 0 ? kSyncStateByte3 : kSyncStateStart;
        break;
    case kSyncStateByte3:
        record.syncState = byte == record.syncByte ? kSyncStateByte4 : kSyncStateStart;
        break;
    case kSyncStateByte4:
        if (byte == 0) {
            record.syncState = kSynchronised;
            record.status = linkRunning;
        } else {
            record.syncState = kSyncStateStart;
        }
        break;
    default:
        sSyncStart(record);
        break;
    }
}

// Answers a heartbeat (length 2, first byte 0); true when the packet was one.
bool sHandleHBBackChannel(aLinkRecord& record, const aPacket* packet)
{
    if (packet->dataSize != 2 || packet->data[0] != 0)
        return false;
    if (record.heartbeatState != kHeartbeatIdle)
        return false;
    uint8_t received = packet->data[1];
    record.heartbeatState = received == 0 ? kAnsweringUp : kAnsweringDown;
    const uint8_t answer[2] = {0, static_cast<uint8_t>(received + 2)};
    sPutNew(record.outbound, packet->address, 2, answer);
    record.heartbeatState = kHeartbeatIdle;
    return true;
}

void sHandleInbound(aLinkRecord& record)
{
    const aPacket* packet = record.assembly;
    sLogPacket(record, 2, packet);
    bool consumed = false;
    {
        MutexHold hold(record.userFilterMutex);
        if (record.userFilter)
            consumed = record.userFilter(packet, record.userFilterReference) != 0;
    }
    if (!consumed && !sHandleHBBackChannel(record, packet) &&
        aPacketFifo_Put(record.inbound, packet) != aErrNone)
        record.status = linkError;
    aPacket_Reset(record.assembly);
}

bool sMine(const aLinkRecord& record, uint32_t generation)
{
    return record.running && record.generation == generation;
}

void sSignalEnded(aLinkRecord& record, bool& ended, uint32_t generation)
{
    {
        std::lock_guard lock(record.endMutex);
        if (record.generation == generation)
            ended = true;
    }
    record.endSignal.notify_all();
}

void sInPipeProcess(RecordPtr keep, StreamRef stream, uint32_t generation)
{
    aLinkRecord& record = *keep;
    record.heartbeatState = kHeartbeatIdle;
    record.syncByte = 1;
    record.readerStarted = true;
    record.status = linkRunning;
    record.syncState = kSynchronised;
    while (sMine(record, generation)) {
        uint8_t byte = 0;
        aErr err = aStream_Read(stream->get(), &byte, 1);
        if (!sMine(record, generation))
            break;
        if (err == aErrNotReady) {
            if (record.status == linkSyncing || record.status == linkIOError)
                sSyncStart(record);
        } else if (err != aErrNone) {
            record.status = linkIOError;
            aTime_MSSleep(kReadErrorPauseMs);
        } else if (record.status == linkSyncing) {
            sSyncByte(record, byte);
        } else if (aPacket_AddByte(record.assembly, byte) != aErrNone || (record.assembly->address & 1)) {
            sSyncStart(record);
        } else if (aPacket_IsComplete(record.assembly)) {
            sHandleInbound(record);
        }
    }
    sSignalEnded(record, record.readerEnded, generation);
}

// ---- the writer ----

void sWriteOne(aStream* stream, const aPacket* packet)
{
    uint8_t image[aPACKET_MAX_WIRE];
    uint32_t length = sWireImage(packet, image);
    aStream_Write(stream, image, length);
}

// Appends further queued packets while a packet of the largest size still fits after them.
void sWritePool(aLinkRecord& record, aStream* stream, const aPacket* first)
{
    uint8_t buffer[kPoolBytes];
    size_t filled = sWireImage(first, buffer);
    while (filled <= kPoolBytes - aPACKET_MAX_WIRE) {
        aPacket* next = aPacketFifo_Get(record.outbound);
        if (!next)
            break;
        filled += sWireImage(next, buffer + filled);
        aPacket_Destroy(&next);
    }
    aStream_Write(stream, buffer, filled);
}

void sOutPipeProcess(RecordPtr keep, StreamRef stream, uint32_t generation)
{
    aLinkRecord& record = *keep;
    record.writerStarted = true;
    while (sMine(record, generation)) {
        aPacket* packet = aPacketFifo_Await(record.outbound, kWriterAwaitMs);
        if (!packet)
            continue;
        // A failed write is not retried: the caller notices the missing answer.
        if (record.pooled)
            sWritePool(record, stream->get(), packet);
        else
            sWriteOne(stream->get(), packet);
        sLogPacket(record, 1, packet);
        aPacket_Destroy(&packet);
    }
    // Everything queued up to the stop's route request 0 still goes out, that request too,
    // unless a later start has taken over the link.
    while (record.generation == generation) {
        bool last = record.finalQueued;
        aPacket* packet = aPacketFifo_Await(record.outbound, last ? 0 : kPollMs);
        if (!packet) {
            if (last)
                break;
            continue;
        }
        sWriteOne(stream->get(), packet);
        aPacket_Destroy(&packet);
    }
    sSignalEnded(record, record.writerEnded, generation);
}

void sSetUserFilter(aLinkRecord& record, aPacketFilter filter, void* reference)
{
    MutexHold hold(record.userFilterMutex);
    record.userFilter = filter;
    record.userFilterReference = reference;
}

// ---- life cycle ----

void sInitialise(aLinkRecord& record, aStream* stream)
{
    record.running = false;
    record.stream = stream ? std::make_shared<StreamOwner>(stream) : nullptr;
    record.status = stream ? linkStopped : linkInvalid;
    record.inbound = aPacketFifo_Create();
    record.outbound = aPacketFifo_Create();
    if (!record.assembly)
        record.assembly = aPacket_Create();
    aPacket_Reset(record.assembly);
    {
        MutexHold hold(record.logMutex);
        aPacketLog_Destroy(&record.log);
        record.logSize = 0;
    }
    sSetUserFilter(record, nullptr, nullptr);
    record.pooled = false;
}

bool sPollFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < kPollCount; ++i) {
        if (condition())
            return true;
        aTime_MSSleep(kPollMs);
    }
    return condition();
}

// Waits a bounded time for a worker; one that does not end is let go: it holds the stream and
// the record until its stream operation returns, and then ends by itself.
void sAwaitWorker(aLinkRecord& record, std::thread& worker, const bool& ended)
{
    if (!worker.joinable())
        return;
    std::unique_lock lock(record.endMutex);
    bool done = record.endSignal.wait_for(lock, std::chrono::milliseconds(kWorkerEndMs), [&] { return ended; });
    lock.unlock();
    if (done) {
        worker.join();
    } else {
        worker.detach();
    }
}

aErr aLink_Start(aLinkRecord& record, const RecordPtr& keep)
{
    if (record.running)
        return aErrNone;
    // Workers over no stream could only report read errors: a link without one stays invalid.
    if (!record.stream)
        return aErrParam;
    if (!record.inbound || !record.outbound || !record.assembly)
        return aErrMemory;
    record.running = true;
    record.status = linkStarting;
    record.heartbeatState = kHeartbeatIdle;
    record.readerStarted = false;
    record.writerStarted = false;
    record.readerEnded = false;
    record.writerEnded = false;
    record.finalQueued = false;
    const uint32_t generation = ++record.generation;
    try {
        record.reader = std::thread(sInPipeProcess, keep, record.stream, generation);
    } catch (const std::exception&) {
        record.running = false;
        record.readerEnded = record.writerEnded = true;
        return aErrResource;
    }
    try {
        record.writer = std::thread(sOutPipeProcess, keep, record.stream, generation);
    } catch (const std::exception&) {
        record.running = false;
        record.writerEnded = true;
        sAwaitWorker(record, record.reader, record.readerEnded);
        return aErrResource;
    }
    if (!sPollFor([&] { return record.readerStarted && record.writerStarted && record.status == linkRunning; }))
        return aErrIndexRange;
    return sForceRoute(record, 1);
}

aErr aLink_Stop(aLinkRecord& record)
{
    int status = record.status;
    if (status == linkStopped || status == linkStopping)
        return aErrNone;
    record.status = linkStopping;
    aErr err = aErrNone;
    if (record.reader.joinable() || record.writer.joinable()) {
        // Cleared first, so that a writer woken by the route request does not wait again.
        record.running = false;
        err = sForceRoute(record, 0);
        record.finalQueued = true;
        sAwaitWorker(record, record.reader, record.readerEnded);
        sAwaitWorker(record, record.writer, record.writerEnded);
        record.readerStarted = false;
        record.writerStarted = false;
        aPacket_Reset(record.assembly);
    }
    record.running = false;
    record.status = record.stream ? linkStopped : linkInvalid;
    record.heartbeatState = kHeartbeatIdle;
    return err;
}

void sReleaseStreamAndQueues(aLinkRecord& record, aErr* outboundResult)
{
    uint64_t outbound = record.outbound.exchange(0);
    uint64_t inbound = record.inbound.exchange(0);
    aErr err = aPacketFifo_Destroy(&outbound);
    if (outboundResult)
        *outboundResult = err;
    aPacketFifo_Destroy(&inbound);
    record.stream.reset();
}

// Registers a link over a stream already made, starts it and gives it its first use.
uint32_t sRegisterAndStart(aStream* stream, uint32_t transport, uint32_t identity0,
                           uint32_t identity1, uint32_t identity2)
{
    EntryPtr entry = sNewEntry(transport, identity0, identity1, identity2);
    if (!entry) {
        aStream_Destroy(&stream);
        return 0;
    }
    sInitialise(*entry->record, stream);
    {
        MutexHold hold(sRegistry().mutex);
        entry->useCount = 1;
    }
    uint32_t id = entry->id;
    if (aLink_Start(*entry->record, entry->record) != aErrNone) {
        aLink_Destroy(&id);
        return 0;
    }
    return id;
}

aStream* sOpenStream(const aLinkEntry& entry)
{
    aStream* stream = nullptr;
    switch (entry.transport) {
    case kUSB:
        aStream_CreateUSB(entry.identity[0], &stream);
        break;
    case kTCPIP:
        aStream_CreateSocket(entry.identity[1], static_cast<uint16_t>(entry.identity[2]), &stream);
        break;
    default:
        break;
    }
    return stream;
}

int sBaudIndex(uint32_t baudRate)
{
    static const uint32_t kRates[aSERIAL_BAUD_COUNT] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    for (int i = 0; i < aSERIAL_BAUD_COUNT; ++i)
        if (kRates[i] == baudRate)
            return i;
    return -1;
}

// Runs a packet-log operation under the link's log mutex; aErrParam for an unknown link.
template <class Operation>
aErr sWithLog(uint32_t linkId, Operation operation)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record)
        return aErrParam;
    MutexHold hold(record->logMutex);
    return operation(*record);
}

}  // namespace

extern "C" {

uint32_t aLink_CreateUSB(uint32_t serialNumber)
{
    bool refused = false;
    if (uint32_t shared = sShare(kUSB, serialNumber, refused); shared || refused)
        return shared;
    aStream* stream = nullptr;
    if (aStream_CreateUSB(serialNumber, &stream) != aErrNone)
        return 0;
    uint32_t id = sRegisterAndStart(stream, kUSB, serialNumber, 0, 0);
    RecordPtr record = sFindRecord(id);
    if (!record)
        return 0;
    // A USB module may be mid-conversation with an earlier host: align before anything else.
    record->status = linkSyncing;
    if (!sPollFor([&] { return record->status == linkRunning; })) {
        aLink_Destroy(&id);
        return 0;
    }
    aPacketFifo_DrainPackets(record->outbound, sAcceptAll, nullptr);
    aTime_MSSleep(100);
    aPacketFifo_DrainPackets(record->inbound, sAcceptAll, nullptr);
    return id;
}

uint32_t aLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint16_t port)
{
    bool refused = false;
    if (uint32_t shared = sShare(kTCPIP, serialNumber, refused); shared || refused)
        return shared;
    aStream* stream = nullptr;
    if (aStream_CreateSocket(address, port, &stream) != aErrNone)
        return 0;
    return sRegisterAndStart(stream, kTCPIP, serialNumber, address, port);
}

uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate)
{
    bool refused = false;
    if (uint32_t shared = sShare(kSerial, serialNumber, refused); shared || refused)
        return shared;
    int baudIndex = sBaudIndex(baudRate);
    if (baudIndex < 0 || !portName)
        return 0;
    aStream* stream = nullptr;
    if (aStream_CreateSerial_Packetized(portName, static_cast<uint32_t>(baudIndex), 0, 0, 0, &stream) != aErrNone)
        return 0;
    return sRegisterAndStart(stream, kSerial, serialNumber, 0, 0);
}

uint32_t aLink_Create(aStream* stream)
{
    if (!stream)
        return 0;
    return sRegisterAndStart(stream, kCallerStream, 0xFFFFFFFF, 0, 0);
}

aErr aLink_Destroy(uint32_t* linkId)
{
    if (!linkId)
        return aErrParam;
    EntryPtr entry;
    {
        // The last use and the extraction are one step, so that no creation can share a
        // link that is being torn down.
        Registry& registry = sRegistry();
        MutexHold hold(registry.mutex);
        for (const EntryPtr& candidate : registry.entries)
            if (candidate->id == *linkId)
                entry = candidate;
        *linkId = 0;
        if (!entry)
            return aErrParam;
        if (--entry->useCount > 0)
            return aErrNone;
        registry.entries.remove(entry);
    }
    RecordPtr record = entry->record;
    if (!record)
        return aErrUnknown;
    sSetUserFilter(*record, nullptr, nullptr);
    aLink_Stop(*record);
    if (entry->deviceLinkId)
        aLink_Destroy(&entry->deviceLinkId);
    aErr result = aErrNone;
    sReleaseStreamAndQueues(*record, &result);
    aPacket_Destroy(&record->assembly);
    {
        MutexHold hold(record->logMutex);
        aPacketLog_Destroy(&record->log);
    }
    aMutex_Destroy(&record->logMutex);
    aMutex_Destroy(&record->userFilterMutex);
    return result;
}

aErr aLink_Reset(uint32_t linkId)
{
    EntryPtr entry = linkId ? sFindEntry(linkId) : nullptr;
    if (!entry || !entry->record)
        return aErrParam;
    aLinkRecord& record = *entry->record;
    record.resetting = true;
    aLink_Stop(record);
    sReleaseStreamAndQueues(record, nullptr);
    aStream* stream = nullptr;
    // A serial port or a caller's stream cannot be made again here: no point in retrying.
    bool reopenable = entry->transport == kUSB || entry->transport == kTCPIP;
    for (int attempt = 0; reopenable && attempt < kResetAttempts && !stream; ++attempt) {
        stream = sOpenStream(*entry);
        if (!stream)
            aTime_MSSleep(kResetPauseMs);
    }
    sInitialise(record, stream);
    aErr err = aLink_Start(record, entry->record);
    record.resetting = false;
    return err;
}

linkStatus aLink_GetStatus(uint32_t linkId)
{
    RecordPtr record = sFindRecord(linkId);
    return record ? static_cast<linkStatus>(record->status.load()) : linkInvalid;
}

aErr aLink_PutPacket(uint32_t linkId, const aPacket* packet)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record)
        return aErrParam;
    return aPacketFifo_Put(record->outbound, packet);
}

aPacket* aLink_GetPacket(uint32_t linkId)
{
    RecordPtr record = sFindRecord(linkId);
    return record ? aPacketFifo_Get(record->inbound) : nullptr;
}

aPacket* aLink_GetFirst(uint32_t linkId, aPacketFilter filter, void* reference)
{
    RecordPtr record = sFindRecord(linkId);
    return record ? aPacketFifo_GetFirst(record->inbound, filter, reference) : nullptr;
}

aPacket* aLink_AwaitPacket(uint32_t linkId, uint32_t timeoutMs)
{
    RecordPtr record = sFindRecord(linkId);
    return record ? aPacketFifo_Await(record->inbound, timeoutMs) : nullptr;
}

aPacket* aLink_AwaitFirst(uint32_t linkId, aPacketFilter filter, void* reference, uint32_t timeoutMs)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record || !record->running || record->status != linkRunning)
        return nullptr;
    const uint32_t deadline = aTime_GetMSTicks() + timeoutMs;
    for (;;) {
        int32_t remaining = static_cast<int32_t>(deadline - aTime_GetMSTicks());
        if (remaining <= 0)
            return nullptr;
        if (record->resetting) {
            aTime_MSSleep(std::min<uint32_t>(kPollMs, static_cast<uint32_t>(remaining)));
            continue;
        }
        if (!record->running || record->status != linkRunning)
            return nullptr;
        // The queue is read afresh each time: a reset replaces it.
        if (aPacket* packet = aPacketFifo_AwaitFirst(record->inbound, filter, reference,
                                                     static_cast<uint32_t>(remaining)))
            return packet;
    }
}

uint32_t aLink_DrainPackets(uint32_t linkId, aPacketFilter filter, void* reference)
{
    RecordPtr record = sFindRecord(linkId);
    return record ? aPacketFifo_DrainPackets(record->inbound, filter, reference) : 0;
}

aErr aLink_InstallUserPacketFilter(uint32_t linkId, aPacketFilter filter, void* reference)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record)
        return aErrParam;
    sSetUserFilter(*record, filter, reference);
    return aErrNone;
}

aErr aLink_EnablePooledPackets(uint32_t linkId, bool pooled)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record)
        return aErrParam;
    record->pooled = pooled;
    return aErrNone;
}

aErr aLink_PacketDebug_SetLogSize(uint32_t linkId, int32_t size)
{
    return sWithLog(linkId, [size](aLinkRecord& record) {
        if (size > kMaxLogSize)
            return aErrParam;
        if (record.log)
            return aErrBusy;
        record.logSize = size < 0 ? 0 : static_cast<uint32_t>(size);
        return aErrNone;
    });
}

aErr aLink_PacketDebug_Enable(uint32_t linkId)
{
    return sWithLog(linkId, [](aLinkRecord& record) {
        if (!record.log)
            record.log = aPacketLog_Create(record.logSize ? record.logSize : kDefaultLogSize);
        if (!record.log)
            return aErrResource;
        record.log->enabled = 1;
        return aErrNone;
    });
}

aErr aLink_PacketDebug_Disable(uint32_t linkId)
{
    return sWithLog(linkId, [](aLinkRecord& record) {
        if (!record.log)
            return aErrNotReady;
        record.log->enabled = 0;
        return aErrNone;
    });
}

aErr aLink_PacketDebug_Write(uint32_t linkId, uint8_t tag, uint32_t length, const uint8_t* bytes)
{
    return sWithLog(linkId, [&](aLinkRecord& record) {
        if (length > 255 || (length > 0 && !bytes))
            return aErrParam;
        if (!record.log)
            return aErrNotReady;
        return aPacketLog_Put(record.log, tag, static_cast<uint8_t>(length), bytes);
    });
}

aErr aLink_PacketDebug_Read(uint32_t linkId, uint8_t* tag, uint32_t* length, uint8_t* buffer)
{
    return sWithLog(linkId, [&](aLinkRecord& record) {
        return record.log ? aPacketLog_Get(record.log, tag, length, buffer) : aErrNotReady;
    });
}

aErr aLink_GetDeviceInfo(uint32_t linkId, uint8_t* moduleAddress, uint8_t* model)
{
    RecordPtr record = sFindRecord(linkId);
    if (!record || !moduleAddress)
        return aErrParam;
    aErr err = sPutNew(record->outbound, kSyncAddress, 0, nullptr);
    if (err != aErrNone)
        return err;
    aPacket* answer = aLink_AwaitPacket(linkId, kIdentifyWaitMs);
    if (!answer)
        return aErrTimeout;
    bool identified = answer->dataSize == 0 && answer->address != 0;
    uint8_t address = answer->address;
    aPacket_Destroy(&answer);
    if (!identified)
        return aErrIO;
    *moduleAddress = address;
    if (!model)
        return aErrNone;
    const uint8_t modelRequest[3] = {0x03, 0x48, 0x20};  // UEI get of the System entity's model
    if ((err = sPutNew(record->outbound, address, 3, modelRequest)) != aErrNone)
        return err;
    answer = aLink_AwaitPacket(linkId, kIdentifyWaitMs);
    if (!answer)
        return aErrTimeout;
    bool valid = answer->dataSize == 4 && answer->address == address && answer->data[0] == 0x03;
    uint8_t value = answer->data[3];
    aPacket_Destroy(&answer);
    if (!valid)
        return aErrIO;
    *model = value;
    return aErrNone;
}

}  // extern "C"
