#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hxtest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string programPath(const std::string& name) { return std::string(HX_BIN_DIR) + "/" + name; }

std::string fixturePath(const std::string& name) { return std::string(HX_FIXTURE_DIR) + "/" + name; }

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/hxtest.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::string& path) {
    std::error_code ec;
    // Tests make directories read-only to provoke failures; give the owner its rights back.
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("short write to " + path);
}

bool pathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

namespace {

std::vector<char*> cStrings(const std::vector<std::string>& words) {
    std::vector<char*> out;
    for (const auto& w : words) out.push_back(const_cast<char*>(w.c_str()));
    out.push_back(nullptr);
    return out;
}

// Forks and execs argv with the given pipes as standard streams (-1: inherit).
pid_t spawn(const std::vector<std::string>& argv, const RunOptions& options, int inFd, int outFd, int errFd,
            const std::vector<int>& toClose) {
    if (argv.empty()) throw std::invalid_argument("empty argv");
    auto args = cStrings(argv);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (inFd >= 0) dup2(inFd, 0);
        if (outFd >= 0) dup2(outFd, 1);
        if (errFd >= 0) dup2(errFd, 2);
        for (int fd : toClose)
            if (fd > 2) close(fd);
        for (const auto& [key, value] : options.env) {
            if (value) setenv(key.c_str(), value->c_str(), 1);
            else unsetenv(key.c_str());
        }
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int decodeStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

}  // namespace

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_t pid = spawn(argv, options, in[0], out[1], err[1], {});
    close(in[0]);
    close(out[1]);
    close(err[1]);

    RunResult result;
    size_t inputDone = 0;
    int inFd = in[1];
    if (options.input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    int fds[2] = {out[0], err[0]};
    std::string* sinks[2] = {&result.out, &result.err};
    const auto deadline = Clock::now() + options.timeout;
    int open = 2;
    while (open > 0 || inFd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd pfd[3];
        int n = 0;
        for (int fd : fds)
            if (fd >= 0) pfd[n++] = {fd, POLLIN, 0};
        if (inFd >= 0) pfd[n++] = {inFd, POLLOUT, 0};
        if (poll(pfd, n, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            if (!pfd[i].revents) continue;
            if (pfd[i].fd == inFd) {
                ssize_t w = write(inFd, options.input.data() + inputDone, options.input.size() - inputDone);
                if (w > 0) inputDone += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN) inputDone = options.input.size();
                if (inputDone >= options.input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            for (int k = 0; k < 2; ++k) {
                if (pfd[i].fd != fds[k]) continue;
                char buf[4096];
                ssize_t r = read(fds[k], buf, sizeof buf);
                if (r > 0) {
                    sinks[k]->append(buf, static_cast<size_t>(r));
                } else if (r == 0 || errno != EINTR) {
                    close(fds[k]);
                    fds[k] = -1;
                    --open;
                }
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0) close(fd);
    if (inFd >= 0) close(inFd);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    result.status = result.timedOut ? -1 : decodeStatus(raw);
    return result;
}

Process::Process(const std::vector<std::string>& argv, const RunOptions& options) {
    int out[2];
    if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe failed");
    int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = spawn(argv, options, devnull, out[1], -1, {});
    close(devnull);
    close(out[1]);
    outFd_ = out[0];
}

Process::~Process() {
    stop();
    if (outFd_ >= 0) close(outFd_);
}

bool Process::running() {
    if (status_ || pid_ < 0) return false;
    int raw = 0;
    pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) {
        status_ = decodeStatus(raw);
        return false;
    }
    return r == 0;
}

std::optional<std::string> Process::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        if (outFd_ < 0) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd pfd{outFd_, POLLIN, 0};
        int p = poll(&pfd, 1, static_cast<int>(left));
        if (p < 0 && errno == EINTR) continue;
        if (p <= 0) return std::nullopt;
        char buf[4096];
        ssize_t r = read(outFd_, buf, sizeof buf);
        if (r > 0) {
            buffered_.append(buf, static_cast<size_t>(r));
        } else if (r == 0 || errno != EINTR) {
            close(outFd_);
            outFd_ = -1;
        }
    }
}

std::optional<std::string> Process::waitForLine(const std::string& needle, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto line = readLine(left);
        if (!line) return std::nullopt;
        if (line->find(needle) != std::string::npos) return line;
    }
}

int Process::stop(std::chrono::milliseconds timeout) {
    if (pid_ < 0) return -1;
    if (!status_ && running()) {
        kill(pid_, SIGTERM);
        if (!waitFor([this] { return !running(); }, timeout, std::chrono::milliseconds(10))) {
            kill(pid_, SIGKILL);
            int raw = 0;
            while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
            }
            status_ = -1;
        }
    }
    return status_.value_or(-1);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(interval);
    }
}

std::chrono::microseconds processCpuTime() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto us = [](const timeval& tv) { return std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec); };
    return std::chrono::duration_cast<std::chrono::microseconds>(us(ru.ru_utime) + us(ru.ru_stime));
}

std::string base64Encode(const std::string& bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t left = bytes.size() - at;
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 16;
        if (left > 1)
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
        if (left > 2)
            group |= static_cast<unsigned char>(bytes[at + 2]);
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

}  // namespace hxtest
