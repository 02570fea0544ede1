// The USB stream's logic through the in-memory bus: transfers handed out byte by byte, OUT
// chunking, the read time-out, and the outcomes of opening.
#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "aStream_USB.h"
#include "aUSBBus.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerial = 0x40F5849A;

class UsbStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(aUSBBus_SelectBackend(aUSBBackendMemory), aErrNone); }
    void TearDown() override {
        if (stream) aStream_Destroy(&stream);
        if (device) aUSBBus_Unplug(&device);
        aUSBBus_SelectBackend(aUSBBackendLibusb);
    }
    void plugAndOpen(uint16_t inSize = 64, uint16_t outSize = 64) {
        device = aUSBBus_Plug(kSerial, 0x13, inSize, outSize);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNone);
        EXPECT_TRUE(aUSBBus_IsOpen(device));
    }
    std::vector<Bytes> outTransfers() {
        std::vector<Bytes> transfers;
        for (;;) {
            Bytes buffer(4096);
            size_t length = 0;
            if (aUSBBus_ReceiveOut(device, buffer.data(), buffer.size(), &length, 0) != aErrNone) return transfers;
            buffer.resize(length);
            transfers.push_back(buffer);
        }
    }
    aUSBBusDevice* device = nullptr;
    aStream* stream = nullptr;
};

TEST_F(UsbStream, OneInTransferIsHandedOutByteByByte) {
    plugAndOpen();
    const Bytes first{1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(aUSBBus_SendIn(device, first.data(), first.size()), aErrNone);
    // Eight reads from the one transfer: had any of them started another transfer, it would
    // have found none queued and timed out.
    for (uint8_t expected : first) {
        uint8_t byte = 0;
        ASSERT_EQ(aStream_Read(stream, &byte, 1), aErrNone);
        EXPECT_EQ(byte, expected);
    }
    const Bytes second{9, 10};
    ASSERT_EQ(aUSBBus_SendIn(device, second.data(), second.size()), aErrNone);
    Bytes rest(2);
    ASSERT_EQ(aStream_Read(stream, rest.data(), rest.size()), aErrNone);  // the ninth read takes a new transfer
    EXPECT_EQ(rest, second);
}

TEST_F(UsbStream, ReadWithoutDataTimesOutAfterAboutASecond) {
    plugAndOpen();
    uint8_t byte;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 900ms);
    EXPECT_LT(waited, 10s);
}

TEST_F(UsbStream, ZeroLengthTransferIsNotReady) {
    plugAndOpen();
    ASSERT_EQ(aUSBBus_SendIn(device, nullptr, 0), aErrNone);
    const uint8_t after = 0x42;
    ASSERT_EQ(aUSBBus_SendIn(device, &after, 1), aErrNone);
    uint8_t byte = 0;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    ASSERT_EQ(aStream_Read(stream, &byte, 1), aErrNone);
    EXPECT_EQ(byte, 0x42);
}

struct ChunkCase {
    const char* name;
    uint16_t outSize;
    size_t count;
    std::vector<size_t> chunks;
};

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.name; }

class UsbChunks : public UsbStream, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(UsbChunks, BlockGoesAsTheseTransfers) {
    const ChunkCase& c = GetParam();
    plugAndOpen(64, c.outSize);
    Bytes block(c.count);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13);
    ASSERT_EQ(aStream_Write(stream, block.data(), block.size()), aErrNone);
    const auto transfers = outTransfers();
    std::vector<size_t> sizes;
    Bytes joined;
    for (const Bytes& transfer : transfers) {
        sizes.push_back(transfer.size());
        joined.insert(joined.end(), transfer.begin(), transfer.end());
    }
    EXPECT_EQ(sizes, c.chunks);
    EXPECT_EQ(joined, block);
}

std::vector<size_t> repeated(size_t size, size_t times, size_t last) {
    std::vector<size_t> sizes(times, size);
    sizes.push_back(last);
    return sizes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbChunks,
    ::testing::Values(ChunkCase{"PacketOnSmallPipe", 64, 30, {30}},
                      ChunkCase{"KilobyteOn512Pipe", 512, 1024, {511, 511, 2}},
                      ChunkCase{"PooledBufferOn512Pipe", 512, 4096, repeated(511, 8, 8)},
                      ChunkCase{"ExactlyOnePipeSize", 512, 512, {511, 1}},
                      ChunkCase{"MoreThanTenChunks", 64, 700, repeated(64, 10, 60)}),
    [](const auto& info) { return info.param.name; });

TEST_F(UsbStream, FailedOutTransfersAreRetriedUpToTheLimit) {
    plugAndOpen();
    const Bytes packet{2, 1, 5};
    ASSERT_EQ(aUSBBus_FailOutTransfers(device, 9), aErrNone);
    ASSERT_EQ(aStream_Write(stream, packet.data(), packet.size()), aErrNone);
    EXPECT_EQ(outTransfers(), std::vector<Bytes>{packet});
    ASSERT_EQ(aUSBBus_FailOutTransfers(device, 10), aErrNone);
    EXPECT_EQ(aStream_Write(stream, packet.data(), packet.size()), aErrWrite);
    EXPECT_TRUE(outTransfers().empty());
}

TEST_F(UsbStream, OutHandlerReceivesEveryTransfer) {
    plugAndOpen(64, 512);
    struct Seen {
        std::mutex mutex;
        std::vector<size_t> sizes;
    } seen;
    ASSERT_EQ(aUSBBus_SetOutHandler(device, [](const uint8_t*, size_t length, void* reference) {
        auto* s = static_cast<Seen*>(reference);
        std::lock_guard<std::mutex> lock(s->mutex);
        s->sizes.push_back(length);
    }, &seen), aErrNone);
    const Bytes block(1024, 7);
    ASSERT_EQ(aStream_Write(stream, block.data(), block.size()), aErrNone);
    std::lock_guard<std::mutex> lock(seen.mutex);
    EXPECT_EQ(seen.sizes, (std::vector<size_t>{511, 511, 2}));
}

TEST_F(UsbStream, ReaderAndWriterRunTogether) {
    plugAndOpen(64, 64);
    // The device echoes every OUT transfer as an IN transfer.
    ASSERT_EQ(aUSBBus_SetOutHandler(device, [](const uint8_t* bytes, size_t length, void* reference) {
        aUSBBus_SendIn(static_cast<aUSBBusDevice*>(reference), bytes, length);
    }, device), aErrNone);
    constexpr int kPackets = 200;
    std::thread writer([&] {
        for (int i = 0; i < kPackets; ++i) {
            const uint8_t image[3] = {2, 1, static_cast<uint8_t>(i)};
            EXPECT_EQ(aStream_Write(stream, image, sizeof image), aErrNone);
        }
    });
    Bytes echoed;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (echoed.size() < 3u * kPackets && std::chrono::steady_clock::now() < deadline) {
        uint8_t image[3];
        if (aStream_Read(stream, image, sizeof image) == aErrNone) echoed.insert(echoed.end(), image, image + 3);
    }
    writer.join();
    ASSERT_EQ(echoed.size(), 3u * kPackets);
    for (int i = 0; i < kPackets; ++i) EXPECT_EQ(echoed[3 * i + 2], static_cast<uint8_t>(i));
}

TEST_F(UsbStream, UnpluggedDeviceGivesIOErrors) {
    plugAndOpen();
    ASSERT_EQ(aUSBBus_Unplug(&device), aErrNone);
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrIO);
    EXPECT_EQ(aStream_Write(stream, "ab", 2), aErrIO);
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST_F(UsbStream, DestroyReleasesTheDevice) {
    plugAndOpen();
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    EXPECT_FALSE(aUSBBus_IsOpen(device));
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNone);
}

struct OpenCase {
    const char* name;
    uint16_t inSize;
    uint16_t outSize;
    bool held;
    uint32_t serial;
    aErr expected;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class UsbOpen : public UsbStream, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(UsbOpen, Outcome) {
    const OpenCase& c = GetParam();
    device = aUSBBus_Plug(kSerial, 0x13, c.inSize, c.outSize);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(aUSBBus_SetHeld(device, c.held), aErrNone);
    EXPECT_EQ(aStream_CreateUSB(c.serial, &stream), c.expected);
    EXPECT_EQ(stream != nullptr, c.expected == aErrNone);
    EXPECT_EQ(aUSBBus_IsOpen(device), c.expected == aErrNone);
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbOpen,
                         ::testing::Values(OpenCase{"Opens", 64, 64, false, kSerial, aErrNone},
                                           OpenCase{"HeldByAnotherProgram", 64, 64, true, kSerial, aErrBusy},
                                           OpenCase{"NoSuchSerialNumber", 64, 64, false, 0x12345678, aErrNotFound},
                                           OpenCase{"NoBulkIn", 0, 64, false, kSerial, aErrInitialization},
                                           OpenCase{"NoBulkOut", 64, 0, false, kSerial, aErrInitialization}),
                         [](const auto& info) { return info.param.name; });

TEST_F(UsbStream, SecondOpenOfOneDeviceIsBusy) {
    plugAndOpen();
    aStream* second = nullptr;
    EXPECT_EQ(aStream_CreateUSB(kSerial, &second), aErrBusy);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(aStream_CreateUSB(kSerial, nullptr), aErrParam);
}

TEST_F(UsbStream, BusListsItsDevices) {
    device = aUSBBus_Plug(kSerial, 0x13, 64, 64);
    aUSBBusDevice* other = aUSBBus_Plug(0x00000042, 0x21, 64, 64);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(aUSBBus_Plug(kSerial, 0x13, 64, 64), nullptr);  // one device per serial number
    aUSBDeviceInfo found[4];
    size_t count = 0;
    ASSERT_EQ(aUSBBus_ListDevices(found, 4, &count), aErrNone);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(found[0].serialNumber, 0x42u);
    EXPECT_EQ(found[0].model, 0x21);
    EXPECT_EQ(found[1].serialNumber, kSerial);
    aUSBBus_Unplug(&other);
    EXPECT_EQ(aUSBBus_SendIn(device, Bytes(65).data(), 65), aErrSize);
}

}  // namespace
