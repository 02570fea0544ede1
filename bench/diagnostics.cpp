// The masked diagnostic channel sits inside the serial protocols' byte loops: a message whose
// bit is off must cost next to nothing, and one that passes costs one format and one write.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "UpdaterDisplay.h"

namespace {

void BM_DiagnosticMaskedOut(benchmark::State& state)
{
    debugSetStream(stderr);
    for (auto _ : state)
        debugPrintf(DEBUG_NXPSerial_SR, "byte %02X at %d\n", 0x5A, 17);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiagnosticMaskedOut);

void BM_DiagnosticWrittenToDevNull(benchmark::State& state)
{
    FILE* sink = fopen("/dev/null", "w");
    setvbuf(sink, nullptr, _IONBF, 0);
    debugSetStream(sink);
    debugAddMask(DEBUG_iMXSerial);
    for (auto _ : state)
        debugPrintf(DEBUG_iMXSerial, "byte %02X at %d\n", 0x5A, 17);
    state.SetItemsProcessed(state.iterations());
    debugSetStream(nullptr);
    fclose(sink);
}
BENCHMARK(BM_DiagnosticWrittenToDevNull);

}  // namespace

BENCHMARK_MAIN();
