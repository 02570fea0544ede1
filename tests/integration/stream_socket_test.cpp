// The socket stream against a loopback peer of the test's own: reading, writing, the peer
// closing or resetting, refusal, reconnection and the would-block limit.
#include <gtest/gtest.h>

#include <ostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aStream_Socket.h"

namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 with an ephemeral port.
class Peer {
public:
    Peer() {
        int port = 0;
        listener_ = hxtest::listenOnLoopback(&port);
        port_ = static_cast<uint16_t>(port);
    }
    ~Peer() {
        closeConnection();
        stopListening();
    }
    uint16_t port() const { return port_; }
    void stopListening() {
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
    }
    // Takes the next connection within the bound; false when none came.
    bool accept(std::chrono::milliseconds timeout = 10s) {
        pollfd poller{listener_, POLLIN, 0};
        if (poll(&poller, 1, static_cast<int>(timeout.count())) <= 0) return false;
        closeConnection();
        connection_ = ::accept(listener_, nullptr, nullptr);
        return connection_ >= 0;
    }
    void send(const std::string& text) {
        ASSERT_EQ(::send(connection_, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    }
    std::string receive(size_t count) {
        std::string got;
        hxtest::waitFor([&] {
            pollfd poller{connection_, POLLIN, 0};
            if (poll(&poller, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t n = recv(connection_, buffer, sizeof buffer, 0);
                if (n > 0) got.append(buffer, static_cast<size_t>(n));
            }
            return got.size() >= count;
        }, 10s, 1ms);
        return got;
    }
    void closeConnection(bool reset = false) {
        if (connection_ < 0) return;
        if (reset) {
            const linger abortive{1, 0};
            setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        close(connection_);
        connection_ = -1;
    }

private:
    int listener_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
};

class SocketStream : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), peer.port(), &stream), aErrNone);
        ASSERT_TRUE(peer.accept());
    }
    void TearDown() override {
        if (stream) aStream_Destroy(&stream);
    }
    // Reads until `count` bytes came, within a bound.
    std::string read(size_t count) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            uint8_t byte;
            const aErr err = aStream_Read(stream, &byte, 1);
            if (err == aErrNone) got.push_back(static_cast<char>(byte));
            else EXPECT_EQ(err, aErrNotReady);
        }
        return got;
    }
    Peer peer;
    aStream* stream = nullptr;
};

TEST_F(SocketStream, ReadsAndWrites) {
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    peer.send("hello");
    EXPECT_EQ(read(5), "hello");
    ASSERT_EQ(aStream_Write(stream, "block", 5), aErrNone);
    ASSERT_EQ(aStream_Write(stream, "!", 1), aErrNone);
    EXPECT_EQ(peer.receive(6), "block!");
}

struct LossCase {
    const char* name;
    bool reset;
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class SocketLoss : public SocketStream, public ::testing::WithParamInterface<LossCase> {};

TEST_P(SocketLoss, ReadNoticesAndReconnects) {
    peer.closeConnection(GetParam().reset);
    uint8_t byte;
    bool reconnected = false;
    for (int i = 0; i < 50 && !reconnected; ++i) {
        const aErr err = aStream_Read(stream, &byte, 1);
        EXPECT_NE(err, aErrEOF);
        EXPECT_EQ(err, aErrNotReady);
        reconnected = peer.accept(0ms);
    }
    ASSERT_TRUE(reconnected || peer.accept());
    peer.send("again");
    EXPECT_EQ(read(5), "again");
    ASSERT_EQ(aStream_Write(stream, "back", 4), aErrNone);
    EXPECT_EQ(peer.receive(4), "back");
}

INSTANTIATE_TEST_SUITE_P(Ends, SocketLoss,
                         ::testing::Values(LossCase{"PeerCloses", false}, LossCase{"PeerResets", true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(SocketStream, WriteAfterAResetReachesTheNewConnection) {
    peer.closeConnection(true);
    // The first send after the reset may still be taken by the kernel; keep writing until the
    // stream has noticed and the peer sees a new connection.
    bool reconnected = false;
    for (int i = 0; i < 50 && !reconnected; ++i) {
        EXPECT_EQ(aStream_Write(stream, "x", 1), aErrNone);
        reconnected = peer.accept(20ms);
    }
    ASSERT_TRUE(reconnected);
    ASSERT_EQ(aStream_Write(stream, "data", 4), aErrNone);
    EXPECT_NE(peer.receive(4).find("data"), std::string::npos);
}

TEST_F(SocketStream, ReaderAndWriterNoticingOneLossReconnectOnce) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            aStream_Write(stream, "w", 1);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::atomic<bool> gotMarker{false};
    std::thread reader([&] {
        std::string got;
        while (!stop && got.find("zz") == std::string::npos) {
            uint8_t byte;
            if (aStream_Read(stream, &byte, 1) == aErrNone) got.push_back(static_cast<char>(byte));
        }
        gotMarker = got.find("zz") != std::string::npos;
    });
    peer.closeConnection(true);
    const bool reconnected = peer.accept();
    if (reconnected) peer.send("zz");
    EXPECT_TRUE(hxtest::waitFor([&] { return gotMarker || !reconnected; }));
    const bool again = peer.accept(300ms);
    stop = true;
    writer.join();
    reader.join();
    ASSERT_TRUE(reconnected);
    EXPECT_FALSE(again) << "both threads reconnected";
    EXPECT_TRUE(gotMarker);
}

TEST_F(SocketStream, LostPeerGivesConnectionWithoutSpinning) {
    peer.stopListening();
    peer.closeConnection(true);
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = hxtest::processCpuTime();
    int connectionErrors = 0;
    while (std::chrono::steady_clock::now() - wallStart < 1s) {
        uint8_t byte;
        const aErr err = aStream_Read(stream, &byte, 1);
        EXPECT_TRUE(err == aErrConnection || err == aErrNotReady) << err;
        connectionErrors += err == aErrConnection;
    }
    const auto cpu = hxtest::processCpuTime() - cpuStart;
    EXPECT_GT(connectionErrors, 0);
    EXPECT_LT(cpu.count(), 250000) << "cpu us over about a second";
    EXPECT_EQ(aStream_Write(stream, "x", 1), aErrConnection);
}

TEST_F(SocketStream, IdleReadsCostNoCpu) {
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = hxtest::processCpuTime();
    while (std::chrono::steady_clock::now() - wallStart < 1s) {
        uint8_t byte;
        EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    }
    EXPECT_LT((hxtest::processCpuTime() - cpuStart).count(), 250000) << "cpu us over about a second";
}

TEST_F(SocketStream, WriteThatNeverDrainsGivesBusy) {
    const std::vector<uint8_t> block(1 << 20, 0x5A);
    aErr err = aErrNone;
    for (int i = 0; i < 200 && err == aErrNone; ++i) err = aStream_Write(stream, block.data(), block.size());
    EXPECT_EQ(err, aErrBusy);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aStream_Write(stream, block.data(), block.size()), aErrBusy);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);  // it waited before giving up
}

TEST(SocketStreamOpen, RefusedOrNullGivesResource) {
    int port;
    {
        Peer closed;
        port = closed.port();
    }
    aStream* stream = reinterpret_cast<aStream*>(&port);
    EXPECT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), static_cast<uint16_t>(port), &stream), aErrResource);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), 1, nullptr), aErrResource);
}

}  // namespace
