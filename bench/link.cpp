// The link engine's costs: the round trip of a request and its reply through the engine over
// TCP on loopback to the simulator, beside a raw socket ping-pong of the same bytes with the
// same simulator; the CPU an idle process with one TCP and one serial link uses; pooled against
// unpooled sending of 10,000 packets.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Loopback.h"
#include "SimModule.h"
#include "SimTransport.h"
#include "halcyonix.h"

namespace {

using Clock = std::chrono::steady_clock;
using halcyonix_sim::ModuleConfig;
using halcyonix_sim::SimModule;
using halcyonix_sim::SimTcpTransport;

constexpr uint8_t kAddress = 2;
constexpr uint32_t kSerial = 0x40F5849A;
constexpr int kRoundTrips = 2000;
const uint8_t kEcho[6] = {23, 1, 2, 3, 4, 5};

double sCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double sPercentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * (values.size() - 1))];
}

uint8_t sIsEcho(const aPacket* packet, void*)
{
    return packet->dataSize > 0 && packet->data[0] == 23;
}

std::vector<double> sEngineRoundTrips(uint16_t port)
{
    std::vector<double> micros;
    uint32_t link = aLink_CreateTCPIP(kSerial, htonl(INADDR_LOOPBACK), port);
    if (!link)
        return micros;
    aPacket* request = aPacket_CreateWithData(kAddress, sizeof kEcho, kEcho);
    for (int i = 0; i < kRoundTrips; ++i) {
        auto start = Clock::now();
        aLink_PutPacket(link, request);
        aPacket* reply = aLink_AwaitFirst(link, sIsEcho, nullptr, 2000);
        if (!reply)
            break;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        aPacket_Destroy(&reply);
    }
    aPacket_Destroy(&request);
    aLink_Destroy(&link);
    return micros;
}

std::vector<double> sRawRoundTrips(uint16_t port)
{
    std::vector<double> micros;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return micros;
    }
    const uint8_t image[8] = {kAddress, sizeof kEcho, 23, 1, 2, 3, 4, 5};
    for (int i = 0; i < kRoundTrips; ++i) {
        auto start = Clock::now();
        send(fd, image, sizeof image, MSG_NOSIGNAL);
        uint8_t answer[sizeof image];
        std::size_t got = 0;
        while (got < sizeof answer) {
            ssize_t n = recv(fd, answer + got, sizeof answer - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got < sizeof answer)
            break;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    close(fd);
    return micros;
}

void BM_RoundTripEngineVsRawSocket(benchmark::State& state)
{
    SimModule module(ModuleConfig{});
    SimTcpTransport transport(module, 0);
    for (auto _ : state) {
        std::vector<double> engine = sEngineRoundTrips(transport.port());
        std::vector<double> raw = sRawRoundTrips(transport.port());
        if (engine.size() < kRoundTrips || raw.size() < kRoundTrips) {
            state.SkipWithError("a round trip went unanswered");
            return;
        }
        state.counters["engine_median_us"] = sPercentile(engine, 0.5);
        state.counters["engine_p99_us"] = sPercentile(engine, 0.99);
        state.counters["raw_median_us"] = sPercentile(raw, 0.5);
        state.counters["raw_p99_us"] = sPercentile(raw, 0.99);
        state.counters["median_ratio"] = sPercentile(engine, 0.5) / sPercentile(raw, 0.5);
    }
}
BENCHMARK(BM_RoundTripEngineVsRawSocket)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A simulator program beside this one, so that its own CPU does not count here.
struct SimProcess {
    pid_t pid = -1;
    std::string where;  // its first line: "tcp 127.0.0.1 PORT" or "serial /dev/pts/N"

    explicit SimProcess(const char* transport)
    {
        char self[PATH_MAX] = {};
        if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            return;
        std::string program = std::string(self).substr(0, std::string(self).rfind('/')) + "/halcyonix-sim";
        int out[2];
        if (pipe(out) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(program.c_str(), program.c_str(), "--transport", transport, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[256];
        if (pid > 0 && lines && fgets(line, sizeof line, lines))
            where = std::string(line, strcspn(line, "\n"));
        if (lines)
            fclose(lines);
    }
    ~SimProcess()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string last() const { return where.substr(where.rfind(' ') + 1); }
};

void BM_IdleTcpAndSerialLinks(benchmark::State& state)
{
    SimProcess tcp("tcp");
    SimProcess serial("serial");
    if (tcp.where.empty() || serial.where.empty()) {
        state.SkipWithError("halcyonix-sim did not start");
        return;
    }
    uint32_t tcpLink = aLink_CreateTCPIP(kSerial, htonl(INADDR_LOOPBACK), static_cast<uint16_t>(std::stoul(tcp.last())));
    uint32_t serialLink = aLink_CreateSerial(kSerial + 1, serial.last().c_str(), 115200);
    if (!tcpLink || !serialLink) {
        state.SkipWithError("a link did not open");
        aLink_Destroy(&tcpLink);
        aLink_Destroy(&serialLink);
        return;
    }
    for (auto _ : state) {
        auto start = Clock::now();
        double cpuStart = sCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_over_wall"] = (sCpuSeconds() - cpuStart) / wall;
    }
    state.counters["both_running"] = aLink_GetStatus(tcpLink) == linkRunning && aLink_GetStatus(serialLink) == linkRunning;
    aLink_Destroy(&tcpLink);
    aLink_Destroy(&serialLink);
}
BENCHMARK(BM_IdleTcpAndSerialLinks)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A loopback peer that takes every byte and says nothing.
struct Sink {
    int port = 0;
    int listener = hxtest::listenOnLoopback(&port);
    std::atomic<long> bytes{0};
    std::atomic<bool> running{true};
    std::thread reader;

    Sink()
    {
        reader = std::thread([this] {
            int fd = accept(listener, nullptr, nullptr);
            timeval limit{0, 100000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            uint8_t buffer[65536];
            while (running) {
                ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    bytes += n;
            }
            close(fd);
        });
    }
    ~Sink()
    {
        running = false;
        reader.join();
        close(listener);
    }
};

void BM_SendTenThousandPackets(benchmark::State& state)
{
    const bool pooled = state.range(0) != 0;
    constexpr int kPackets = 10000;
    constexpr int kBatch = 500;  // well below the queue's 1000-packet limit
    const std::vector<uint8_t> data(28, 0x33);
    for (auto _ : state) {
        state.PauseTiming();
        Sink sink;
        uint32_t link = aLink_CreateTCPIP(kSerial + 2, htonl(INADDR_LOOPBACK), sink.port);
        aLink_EnablePooledPackets(link, pooled);
        aPacket* packet = aPacket_CreateWithData(kAddress, 28, data.data());
        while (sink.bytes < 3)  // the start's route request
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        long base = sink.bytes;
        state.ResumeTiming();
        for (int sent = 0; sent < kPackets; sent += kBatch) {
            for (int i = 0; i < kBatch; ++i)
                aLink_PutPacket(link, packet);
            long expected = base + static_cast<long>(sent + kBatch) * 30;
            auto deadline = Clock::now() + std::chrono::seconds(30);
            while (sink.bytes < expected && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        state.PauseTiming();
        aPacket_Destroy(&packet);
        aLink_Destroy(&link);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kPackets);
}
BENCHMARK(BM_SendTenThousandPackets)->Arg(0)->Arg(1)->ArgName("pooled")->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
