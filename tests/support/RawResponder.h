// A raw HTTP responder of the tests' own on 127.0.0.1: it answers each connection with the
// response its handler makes from the request line (or, when silent, accepts and sends
// nothing) and records every request line, so tests see exactly what a server would.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hxtest {

class RawResponder {
public:
    using Handler = std::function<std::string(const std::string& requestLine)>;

    explicit RawResponder(Handler handler, bool silent = false);
    explicit RawResponder(const std::string& response, bool silent = false)
        : RawResponder([response](const std::string&) { return response; }, silent) {}
    ~RawResponder();
    RawResponder(const RawResponder&) = delete;
    RawResponder& operator=(const RawResponder&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/cgi/u"; }
    int port() const { return port_; }
    std::vector<std::string> requestLines();

private:
    void serve();

    Handler handler_;
    bool silent_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    std::mutex lock_;
    std::vector<std::string> requests_;
};

// A whole HTTP/1.1 response with the status, a length and the body.
std::string httpResponse(int status, const std::string& body);

}  // namespace hxtest
