// halcyonix-sim: one simulated module behind a TCP listener or a packetized serial link on a
// pseudo-terminal, driven through a line-based control channel (standard input and a TCP
// control port). See sim/README.md.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "SimControl.h"
#include "SimModule.h"
#include "SimTransport.h"

using namespace halcyonix_sim;

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

struct Options {
    std::string transport = "tcp";
    uint16_t port = 0;
    uint16_t controlPort = 0;
    ModuleConfig module;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: halcyonix-sim [--transport tcp|serial] [--port N] [--control-port N]\n"
                 "                     [--serial-number HEX] [--model N] [--address N]\n"
                 "                     [--heartbeat MS] [--build N] [--name TEXT]\n");
}

bool parseNumber(const char* text, unsigned long max, unsigned long& value, int base = 0)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, base);
    return errno == 0 && end != text && *end == '\0' && value <= max;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        unsigned long n = 0;
        if (word == "--transport" && (std::string(value) == "tcp" || std::string(value) == "serial"))
            options.transport = value;
        else if (word == "--port" && parseNumber(value, 65535, n))
            options.port = static_cast<uint16_t>(n);
        else if (word == "--control-port" && parseNumber(value, 65535, n))
            options.controlPort = static_cast<uint16_t>(n);
        else if (word == "--serial-number" && parseNumber(value, 0xFFFFFFFF, n, 16) && n != 0)
            options.module.serialNumber = static_cast<uint32_t>(n);
        else if (word == "--model" && parseNumber(value, 255, n))
            options.module.model = static_cast<uint8_t>(n);
        else if (word == "--address" && parseNumber(value, 254, n) && n != 0 && !(n & 1))
            options.module.address = static_cast<uint8_t>(n);
        else if (word == "--heartbeat" && parseNumber(value, 3600000, n))
            options.module.heartbeatIntervalMs = static_cast<uint32_t>(n);
        else if (word == "--build" && parseNumber(value, 0xFFFFFFFF, n))
            options.module.build = static_cast<uint32_t>(n);
        else if (word == "--name")
            options.module.name = value;
        else
            return false;
    }
    return true;
}

// One reader of control lines: standard input or a control connection.
struct ControlPeer {
    int inFd;
    int outFd;
    std::string pending;
};

// Answers every whole line that has arrived; false when the peer has gone.
bool serve(ControlPeer& peer, SimControl& control)
{
    char buffer[1024];
    ssize_t n = ::read(peer.inFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0)
        return false;
    peer.pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = peer.pending.find('\n')) != std::string::npos) {
        std::string line = peer.pending.substr(0, end);
        peer.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::string answer = control.execute(line) + "\n";
        if (::send(peer.outFd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0 && errno == ENOTSOCK)
            (void)!::write(peer.outFd, answer.data(), answer.size());
    }
    // A line that never ends must not grow without bound.
    if (peer.pending.size() > 4096)
        peer.pending.clear();
    return true;
}

void runControl(int listenFd, SimControl& control)
{
    std::vector<ControlPeer> peers{{STDIN_FILENO, STDOUT_FILENO, {}}};
    while (!gStop) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
        for (const ControlPeer& peer : peers)
            fds.push_back({peer.inFd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        for (std::size_t i = peers.size(); i-- > 0;) {
            if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) || serve(peers[i], control))
                continue;
            if (peers[i].inFd != STDIN_FILENO)
                ::close(peers[i].inFd);
            peers.erase(peers.begin() + static_cast<long>(i));
        }
        if (fds[0].revents & POLLIN) {
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                peers.push_back({fd, fd, {}});
        }
    }
    for (const ControlPeer& peer : peers)
        if (peer.inFd != STDIN_FILENO)
            ::close(peer.inFd);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    try {
        SimModule module(options.module);
        std::unique_ptr<SimTransport> transport;
        if (options.transport == "tcp")
            transport = std::make_unique<SimTcpTransport>(module, options.port);
        else
            transport = std::make_unique<SimSerialTransport>(module);
        uint16_t controlPort = 0;
        int controlFd = listenOnLoopback(options.controlPort, controlPort);
        if (controlFd < 0) {
            std::fprintf(stderr, "halcyonix-sim: cannot listen for control on port %u: %s\n",
                         options.controlPort, std::strerror(errno));
            return 1;
        }
        std::printf("%s\ncontrol 127.0.0.1 %u\nready\n", transport->describe().c_str(), controlPort);
        SimControl control(module, *transport);
        runControl(controlFd, control);
        ::close(controlFd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halcyonix-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
