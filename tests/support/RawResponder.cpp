#include "RawResponder.h"

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Loopback.h"

namespace hxtest {

RawResponder::RawResponder(Handler handler, bool silent) : handler_(std::move(handler)), silent_(silent)
{
    listener_ = listenOnLoopback(&port_);
    worker_ = std::thread([this] { serve(); });
}

RawResponder::~RawResponder()
{
    stop_ = true;
    worker_.join();
    close(listener_);
}

std::vector<std::string> RawResponder::requestLines()
{
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

void RawResponder::serve()
{
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int client = accept(listener_, nullptr, nullptr);
        if (client < 0)
            continue;
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd c{client, POLLIN, 0};
            if (poll(&c, 1, 50) <= 0)
                continue;
            ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0)
                break;
            request.append(buf, static_cast<size_t>(n));
        }
        const std::string line = request.substr(0, request.find("\r\n"));
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(line);
        }
        if (silent_) {
            while (!stop_)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            const std::string response = handler_(line);
            size_t sent = 0;
            while (sent < response.size()) {
                ssize_t n = send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
        }
        close(client);
    }
}

std::string httpResponse(int status, const std::string& body)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace hxtest
