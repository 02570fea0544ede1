// Packet queues: a process-wide registry of shared queue objects, each a deque of packet copies
// with arrival numbers, guarded by its own mutex and condition variable.
#include "aPacketFifo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
    aPacket* packet;
    int32_t sequence;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> entries;
    bool alive = true;
    std::atomic<int32_t> nextSequence{0};
    std::atomic<int32_t> oldestSequence{0};

    ~Queue() { clear(); }

    void updateOldest() {
        oldestSequence = entries.empty() ? nextSequence.load() : entries.front().sequence;
    }
    void clear() {
        for (Entry& entry : entries) aPacket_Destroy(&entry.packet);
        entries.clear();
        updateOldest();
    }
    // Hands a copy of the entry to the caller; on a failed copy the entry stays.
    aPacket* take(std::deque<Entry>::iterator entry) {
        aPacket* copy = aPacket_Copy(entry->packet);
        if (!copy) return nullptr;
        aPacket_Destroy(&entry->packet);
        entries.erase(entry);
        updateOldest();
        return copy;
    }
};

using QueueRef = std::shared_ptr<Queue>;

std::mutex gRegistryMutex;
std::map<uint64_t, QueueRef>& sRegistry() {
    static auto* registry = new std::map<uint64_t, QueueRef>;  // outlives static destruction
    return *registry;
}
std::atomic<uint64_t> gHandleCounter{1};

uint64_t sNextHandle() {
    uint64_t handle;
    do {
        handle = gHandleCounter.fetch_add(1);
    } while (handle == 0);  // only after a wrap of the 64-bit counter
    return handle;
}

QueueRef sLookup(uint64_t handle) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    auto found = sRegistry().find(handle);
    return found == sRegistry().end() ? nullptr : found->second;
}

// A single wait is limited so that the deadline arithmetic never overflows.
constexpr auto kLongestWait = std::chrono::hours(24 * 10);

// Waits for a change until the deadline; false once the deadline has passed.
bool sWaitUntil(Queue& queue, std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    queue.changed.wait_for(lock, std::min<Clock::duration>(deadline - now, kLongestWait));
    return true;
}

Clock::time_point sDeadline(uint32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Offers the entries not yet seen in this call to the filter, oldest first.
std::deque<Entry>::iterator sScan(Queue& queue, aPacketFilter filter, void* reference,
                                  int32_t& lastSeen) {
    for (auto entry = queue.entries.begin(); entry != queue.entries.end(); ++entry) {
        if (static_cast<int32_t>(static_cast<uint32_t>(entry->sequence) -
                                 static_cast<uint32_t>(lastSeen)) <= 0)
            continue;
        lastSeen = entry->sequence;
        if (filter(entry->packet, reference)) return entry;
    }
    return queue.entries.end();
}

}  // namespace

extern "C" {

uint64_t aPacketFifo_Create(void) {
    try {
        auto queue = std::make_shared<Queue>();
        const uint64_t handle = sNextHandle();
        std::lock_guard<std::mutex> lock(gRegistryMutex);
        sRegistry().emplace(handle, std::move(queue));
        return handle;
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(uint64_t* handle) {
    if (!handle) return aErrParam;
    try {
        QueueRef queue;
        {
            std::lock_guard<std::mutex> lock(gRegistryMutex);
            auto found = sRegistry().find(*handle);
            if (found == sRegistry().end()) return aErrNotFound;
            queue = std::move(found->second);
            sRegistry().erase(found);
        }
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            queue->clear();
            queue->alive = false;
        }
        queue->changed.notify_all();
        *handle = 0;
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

aErr aPacketFifo_Put(uint64_t handle, const aPacket* packet) {
    QueueRef queue = sLookup(handle);
    if (!queue || !aVALIDPACKET(packet)) return aErrParam;
    std::unique_lock<std::mutex> lock(queue->mutex);
    const int32_t sequence = queue->nextSequence.fetch_add(1);
    aPacket* copy = aPacket_Copy(packet);
    if (!copy) return aErrParam;
    try {
        queue->entries.push_back({copy, sequence});
    } catch (...) {
        aPacket_Destroy(&copy);
        return aErrResource;
    }
    if (queue->entries.size() > aPACKETFIFO_CAPACITY) {
        // A consumer that stalled this long has lost the thread; bound the memory it holds.
        queue->clear();
        return aErrNone;
    }
    queue->updateOldest();
    lock.unlock();
    queue->changed.notify_all();
    return aErrNone;
}

aPacket* aPacketFifo_Get(uint64_t handle) { return aPacketFifo_Await(handle, 0); }

aPacket* aPacketFifo_GetFirst(uint64_t handle, aPacketFilter filter, void* reference) {
    return aPacketFifo_AwaitFirst(handle, filter, reference, 0);
}

aPacket* aPacketFifo_Await(uint64_t handle, uint32_t timeoutMs) {
    QueueRef queue = sLookup(handle);
    if (!queue) return nullptr;
    const auto deadline = sDeadline(timeoutMs);
    std::unique_lock<std::mutex> lock(queue->mutex);
    for (;;) {
        if (!queue->entries.empty()) return queue->take(queue->entries.begin());
        if (!queue->alive || !sWaitUntil(*queue, lock, deadline)) return nullptr;
    }
}

aPacket* aPacketFifo_AwaitFirst(uint64_t handle, aPacketFilter filter, void* reference,
                                uint32_t timeoutMs) {
    if (!filter) return nullptr;
    QueueRef queue = sLookup(handle);
    if (!queue) return nullptr;
    const auto deadline = sDeadline(timeoutMs);
    std::unique_lock<std::mutex> lock(queue->mutex);
    int32_t lastSeen = static_cast<int32_t>(static_cast<uint32_t>(queue->oldestSequence.load()) - 1u);
    for (;;) {
        auto chosen = sScan(*queue, filter, reference, lastSeen);
        if (chosen != queue->entries.end()) return queue->take(chosen);
        if (!queue->alive || !sWaitUntil(*queue, lock, deadline)) return nullptr;
    }
}

uint32_t aPacketFifo_DrainPackets(uint64_t handle, aPacketFilter filter, void* reference) {
    QueueRef queue = sLookup(handle);
    if (!queue || !filter) return 0;
    std::lock_guard<std::mutex> lock(queue->mutex);
    uint32_t removed = 0;
    for (auto entry = queue->entries.begin(); entry != queue->entries.end();) {
        if (filter(entry->packet, reference)) {
            aPacket_Destroy(&entry->packet);
            entry = queue->entries.erase(entry);
            ++removed;
        } else {
            ++entry;
        }
    }
    queue->updateOldest();
    return removed;
}

uint32_t aPacketFifo_GetLength(uint64_t handle) {
    QueueRef queue = sLookup(handle);
    if (!queue) return 0;
    std::lock_guard<std::mutex> lock(queue->mutex);
    return static_cast<uint32_t>(queue->entries.size());
}

}  // extern "C"
