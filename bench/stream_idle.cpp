// The CPU an idle stream costs its reader: an idle socket stream (loopback peer that sends
// nothing) and an idle packetized serial stream (pseudo-terminal whose other end is quiet),
// each read in a loop for 5 s; the figure is CPU time over wall time.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "Loopback.h"
#include "aStream_Serial.h"
#include "aStream_Socket.h"

namespace {

using Clock = std::chrono::steady_clock;

double sCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void sReadIdle(benchmark::State& state, aStream* stream) {
    long reads = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = sCpuSeconds();
        while (Clock::now() - start < std::chrono::seconds(5)) {
            uint8_t byte;
            benchmark::DoNotOptimize(aStream_Read(stream, &byte, 1));
            ++reads;
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_over_wall"] = (sCpuSeconds() - cpuStart) / wall;
        state.counters["reads_per_s"] = reads / wall;
    }
}

void BM_IdleSocketStream(benchmark::State& state) {
    int port = 0;
    const int listener = hxtest::listenOnLoopback(&port);
    aStream* stream = nullptr;
    if (aStream_CreateSocket(htonl(INADDR_LOOPBACK), static_cast<uint16_t>(port), &stream) != aErrNone) {
        state.SkipWithError("no loopback connection");
        close(listener);
        return;
    }
    const int peer = accept(listener, nullptr, nullptr);
    sReadIdle(state, stream);
    aStream_Destroy(&stream);
    close(peer);
    close(listener);
}
BENCHMARK(BM_IdleSocketStream)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_IdlePacketizedSerialStream(benchmark::State& state) {
    int master = -1;
    int slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    aStream* stream = nullptr;
    if (aStream_CreateSerial_Packetized(name, 6, 0, 0, 0, &stream) != aErrNone) {
        state.SkipWithError("pseudo-terminal would not open");
    } else {
        sReadIdle(state, stream);
        aStream_Destroy(&stream);
    }
    close(master);
    close(slave);
}
BENCHMARK(BM_IdlePacketizedSerialStream)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
