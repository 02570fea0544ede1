// Packet queue throughput on one thread, and the latency from a put on one thread to the return
// of aPacketFifo_AwaitFirst on another.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "aPacketFifo.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_PutTakePair(benchmark::State& state) {
    uint64_t queue = aPacketFifo_Create();
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    aPacket* packet = aPacket_CreateWithData(2, sizeof data, data);
    for (auto _ : state) {
        aPacketFifo_Put(queue, packet);
        aPacket* taken = aPacketFifo_Get(queue);
        benchmark::DoNotOptimize(taken);
        aPacket_Destroy(&taken);
    }
    state.SetItemsProcessed(state.iterations());
    aPacket_Destroy(&packet);
    aPacketFifo_Destroy(&queue);
}
BENCHMARK(BM_PutTakePair);

uint8_t fromAddressFour(const aPacket* packet, void*) { return packet->address == 4; }

int64_t sNow() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

// One put at a time, each stamped with its time; a waiter on another thread measures how long
// after the put its AwaitFirst returned. The producer waits for each packet to arrive before the
// next, so the figure is the wake-up latency, not queueing.
void BM_PutToAwaitFirstLatency(benchmark::State& state) {
    uint64_t queue = aPacketFifo_Create();
    std::atomic<bool> stop{false};
    std::atomic<int64_t> received{0};
    std::vector<double> latenciesUs;
    latenciesUs.reserve(200000);
    std::thread waiter([&] {
        while (!stop) {
            aPacket* packet = aPacketFifo_AwaitFirst(queue, fromAddressFour, nullptr, 100);
            if (!packet) continue;
            int64_t stamp;
            std::memcpy(&stamp, packet->data, sizeof stamp);
            latenciesUs.push_back(static_cast<double>(sNow() - stamp) / 1000.0);
            aPacket_Destroy(&packet);
            received.fetch_add(1);
        }
    });
    int64_t sent = 0;
    for (auto _ : state) {
        uint8_t data[8];
        const int64_t stamp = sNow();
        std::memcpy(data, &stamp, sizeof stamp);
        aPacket* packet = aPacket_CreateWithData(4, sizeof data, data);
        aPacketFifo_Put(queue, packet);
        aPacket_Destroy(&packet);
        ++sent;
        while (received.load() < sent) std::this_thread::yield();
    }
    stop = true;
    waiter.join();
    std::sort(latenciesUs.begin(), latenciesUs.end());
    if (!latenciesUs.empty()) {
        state.counters["median_us"] = latenciesUs[latenciesUs.size() / 2];
        state.counters["p99_us"] = latenciesUs[latenciesUs.size() * 99 / 100];
    }
    aPacketFifo_Destroy(&queue);
}
BENCHMARK(BM_PutToAwaitFirstLatency)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
