// The raw and packetized serial streams on real pseudo-terminals: the test holds the master
// end and speaks the wire protocol with its own CRC-8 and COBS.
#include <gtest/gtest.h>

#include <ostream>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aStream_Serial.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// The test's own framing, written from the published definitions.
uint8_t peerCrc8(const Bytes& bytes) {
    uint8_t crc = 0;
    for (uint8_t byte : bytes) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = (crc ^ byte) & 0x01;
            crc >>= 1;
            if (mix) crc ^= 0x8C;
            byte >>= 1;
        }
    }
    return crc;
}

Bytes peerCobs(const Bytes& in) {
    Bytes out;
    Bytes run;
    auto flush = [&] {
        out.push_back(static_cast<uint8_t>(run.size() + 1));
        out.insert(out.end(), run.begin(), run.end());
        run.clear();
    };
    for (uint8_t byte : in) {
        if (byte == 0) {
            flush();
        } else {
            run.push_back(byte);
            if (run.size() == 254) flush();
        }
    }
    flush();
    return out;
}

Bytes peerFrame(const Bytes& image) {
    Bytes withCrc = image;
    withCrc.push_back(peerCrc8(image));
    Bytes frame = peerCobs(withCrc);
    frame.push_back(0);
    return frame;
}

Bytes packetImage(uint8_t address, const Bytes& data) {
    Bytes image{address, static_cast<uint8_t>(data.size())};
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    void TearDown() override {
        if (stream) aStream_Destroy(&stream);
        if (master >= 0) close(master);
        close(slave);
    }
    void send(const Bytes& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads from the master end until `count` bytes came or the bound passed.
    Bytes receive(size_t count) {
        Bytes got;
        hxtest::waitFor([&] {
            pollfd poller{master, POLLIN, 0};
            if (poll(&poller, 1, 50) > 0) {
                uint8_t buffer[256];
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n > 0) got.insert(got.end(), buffer, buffer + n);
            }
            return got.size() >= count;
        }, 10s, 1ms);
        return got;
    }
    void openPacketized() {
        ASSERT_EQ(aStream_CreateSerial_Packetized(path.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    }
    // Reads single bytes until `wanted` data bytes came, counting aErrPacket results.
    Bytes readBytes(size_t wanted, int* packetErrors = nullptr) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (got.size() < wanted && std::chrono::steady_clock::now() < deadline) {
            uint8_t byte = 0;
            const aErr err = aStream_Read(stream, &byte, 1);
            if (err == aErrNone) got.push_back(byte);
            else if (err == aErrPacket && packetErrors) ++*packetErrors;
            else if (err != aErrNotReady && err != aErrPacket) ADD_FAILURE() << "read gave " << err;
        }
        return got;
    }

    int master = -1;
    int slave = -1;
    std::string path;
    aStream* stream = nullptr;
};

TEST(SerialPeer, CrcCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(peerCrc8(Bytes(check.begin(), check.end())), 0xA1);
}

struct OpenCase {
    const char* name;
    const char* port;  // nullptr: the pseudo-terminal
    uint32_t baud;
    int sevenBits;
    int twoStopBits;
    aErr expected;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class SerialOpen : public PseudoTerminal, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SerialOpen, RefusesBadArgumentsAndPorts) {
    const OpenCase& c = GetParam();
    const std::string port = c.port ? c.port : path;
    EXPECT_EQ(aStream_CreateSerial(port.c_str(), c.baud, 0, c.sevenBits, c.twoStopBits, &stream), c.expected);
    if (c.expected != aErrNone) {
        EXPECT_EQ(stream, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialOpen,
                         ::testing::Values(OpenCase{"Opens", nullptr, 7, 0, 0, aErrNone},
                                           OpenCase{"BaudIndexEight", nullptr, 8, 0, 0, aErrRange},
                                           OpenCase{"SevenBitsTwo", nullptr, 6, 2, 0, aErrMode},
                                           OpenCase{"StopBitsTwo", nullptr, 6, 0, 2, aErrMode},
                                           OpenCase{"MissingPort", "/dev/no-such-port", 6, 0, 0, aErrIO},
                                           OpenCase{"NotATerminal", "/dev/null", 6, 0, 0, aErrIO}),
                         [](const auto& info) { return info.param.name; });

TEST_F(PseudoTerminal, NullArgumentsAreRefused) {
    EXPECT_EQ(aStream_CreateSerial(nullptr, 6, 0, 0, 0, &stream), aErrParam);
    EXPECT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 0, nullptr), aErrParam);
    EXPECT_EQ(aStream_CreateSerial_Packetized(path.c_str(), 9, 0, 0, 0, &stream), aErrRange);
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

TEST_F(PseudoTerminal, SettingsAreRawWhileOpenAndRestoredAtClose) {
    termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= IXON | ICRNL;
    before.c_cc[VMIN] = 1;
    before.c_cc[VTIME] = 5;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    ASSERT_EQ(aStream_CreateSerial(path.c_str(), 6, 1, 0, 1, &stream), aErrNone);
    termios during;
    ASSERT_EQ(tcgetattr(slave, &during), 0);
    EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B115200));
    EXPECT_FALSE(during.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(during.c_iflag & (IXON | ICRNL));
    EXPECT_EQ(during.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(during.c_iflag & INPCK);  // a pseudo-terminal keeps no parity bits of its own
    EXPECT_TRUE(during.c_cflag & CSTOPB);
    EXPECT_EQ(during.c_cc[VMIN], 0);

    ASSERT_EQ(aStream_Destroy(&stream), aErrNone);
    termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_TRUE(sameSettings(before, after));
}

TEST_F(PseudoTerminal, RawStreamCarriesEveryByteValueAndReadsReturnAtOnce) {
    ASSERT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(aStream_Write(stream, all.data(), all.size()), aErrNone);
    EXPECT_EQ(receive(all.size()), all);

    send(all);
    Bytes got;
    ASSERT_TRUE(hxtest::waitFor([&] {
        uint8_t in;
        while (aStream_Read(stream, &in, 1) == aErrNone) got.push_back(in);
        return got.size() >= all.size();
    }));
    EXPECT_EQ(got, all);
}

TEST_F(PseudoTerminal, RawStreamReportsAHungUpPort) {
    ASSERT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 0, &stream), aErrNone);
    close(master);
    master = -1;
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrIO);
}

TEST_F(PseudoTerminal, PacketGoesOutFramed) {
    openPacketized();
    const Bytes image{0x02, 0x01, 0x05};
    ASSERT_EQ(aStream_Write(stream, image.data(), image.size()), aErrNone);
    EXPECT_EQ(receive(6), (Bytes{0x05, 0x02, 0x01, 0x05, 0xB4, 0x00}));
}

TEST_F(PseudoTerminal, SingleBytesGoUnframedAndNonPacketsAreRefused) {
    openPacketized();
    ASSERT_EQ(aStream_Write(stream, "\x7E", 1), aErrNone);
    EXPECT_EQ(receive(1), (Bytes{0x7E}));
    const Bytes junk{0x02, 0x1F, 0x01};  // announces 31 data bytes
    EXPECT_EQ(aStream_Write(stream, junk.data(), junk.size()), aErrPacket);
    const Bytes image{0x02, 0x01, 0x05};  // the assembler starts afresh
    ASSERT_EQ(aStream_Write(stream, image.data(), image.size()), aErrNone);
    EXPECT_EQ(receive(6), peerFrame(image));
}

TEST_F(PseudoTerminal, PacketsOfEverySizeMatchTheTestsOwnFraming) {
    openPacketized();
    std::mt19937 random(7);
    Bytes pooled;
    Bytes expected;
    for (uint8_t size = 0; size <= 28; ++size) {
        Bytes data(size);
        for (auto& byte : data) byte = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random());
        const Bytes image = packetImage(static_cast<uint8_t>(2 + 2 * (size % 8)), data);
        pooled.insert(pooled.end(), image.begin(), image.end());
        const Bytes frame = peerFrame(image);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    // One pooled block, split mid-packet: the tail waits in the assembler for the next call.
    const size_t split = 17;
    ASSERT_EQ(aStream_Write(stream, pooled.data(), split), aErrNone);
    ASSERT_EQ(aStream_Write(stream, pooled.data() + split, pooled.size() - split), aErrNone);
    EXPECT_EQ(receive(expected.size()), expected);
}

TEST_F(PseudoTerminal, GoodFrameIsDeliveredFromTheFirstRead) {
    openPacketized();
    const Bytes image = packetImage(0x06, {0x11, 0x00, 0x22});
    send(peerFrame(image));
    uint8_t byte = 0;
    ASSERT_TRUE(hxtest::waitFor([&] {
        pollfd poller{slave, POLLIN, 0};
        return poll(&poller, 1, 0) > 0;
    }));
    ASSERT_EQ(aStream_Read(stream, &byte, 1), aErrNone);  // no aErrNotReady in between
    EXPECT_EQ(byte, 0x06);
    Bytes rest(image.size() - 1);
    ASSERT_EQ(aStream_Read(stream, rest.data(), rest.size()), aErrNone);
    EXPECT_EQ(rest, Bytes(image.begin() + 1, image.end()));
}

TEST_F(PseudoTerminal, FullSizePacketIsReceivedWhole) {
    openPacketized();
    Bytes data(28);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    const Bytes image = packetImage(0x08, data);
    ASSERT_EQ(peerFrame(image).size(), 33u);  // 32 bytes before the delimiter
    send(peerFrame(image));
    int packetErrors = 0;
    EXPECT_EQ(readBytes(image.size(), &packetErrors), image);
    EXPECT_EQ(packetErrors, 0);
}

struct DamageCase {
    const char* name;
    Bytes (*damage)(Bytes frame);
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class CorruptFrame : public PseudoTerminal, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(CorruptFrame, CostsExactlyItsPacket) {
    openPacketized();
    const Bytes first = packetImage(0x02, {0x01, 0x02});
    const Bytes lost = packetImage(0x04, {0x03, 0x04, 0x05});
    const Bytes last = packetImage(0x06, {0x07});
    Bytes wire = peerFrame(first);
    const Bytes bad = GetParam().damage(peerFrame(lost));
    wire.insert(wire.end(), bad.begin(), bad.end());
    const Bytes good = peerFrame(last);
    wire.insert(wire.end(), good.begin(), good.end());
    send(wire);
    int packetErrors = 0;
    Bytes expected = first;
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(readBytes(expected.size(), &packetErrors), expected);
    EXPECT_EQ(packetErrors, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, CorruptFrame,
    ::testing::Values(
        DamageCase{"WrongCrc", [](Bytes frame) { frame[frame.size() - 2] ^= 0x40; return frame; }},
        DamageCase{"WrongLength", [](Bytes frame) { frame[2] = 0x09; return frame; }},
        DamageCase{"BadCobsCode", [](Bytes frame) { frame[0] = 0x30; return frame; }},
        DamageCase{"Overlong", [](Bytes frame) {
            Bytes longer(frame.begin(), frame.end() - 1);
            longer.insert(longer.end(), 40, 0x55);
            longer.push_back(0);
            return longer;
        }}),
    [](const auto& info) { return info.param.name; });

// An idle packetized stream read in a loop waits in the system, it does not spin; nor does one
// whose other end has hung up.
class IdlePacketized : public PseudoTerminal, public ::testing::WithParamInterface<bool> {};

TEST_P(IdlePacketized, CostsNoCpu) {
    openPacketized();
    if (GetParam()) {
        close(master);
        master = -1;
    }
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = hxtest::processCpuTime();
    while (std::chrono::steady_clock::now() - wallStart < 1s) {
        uint8_t byte;
        EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    }
    const auto cpu = hxtest::processCpuTime() - cpuStart;
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wallStart);
    EXPECT_LT(cpu.count(), wall.count() / 4) << "cpu " << cpu.count() << " us over " << wall.count() << " us";
}

INSTANTIATE_TEST_SUITE_P(Ends, IdlePacketized, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "HungUp" : "Quiet"; });

}  // namespace
