// Shared helpers of the test suites: temporary folders, running the project's programs as a
// user would (black box, with their status and both output streams), background peers, and
// bounded waits on conditions.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "Loopback.h"

namespace hxtest {

// Path of a program built by the project ("Updater", "update-server", "halcyonix-sim", "kite").
std::string programPath(const std::string& name);
// Path below the fixture directory tests/fixtures.
std::string fixturePath(const std::string& name);

// A fresh directory under $TMPDIR (or /tmp), removed with all its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of an entry inside the directory (nothing is created).
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
// Standard base64 with "=" padding, written for the tests (the library only decodes).
std::string base64Encode(const std::string& bytes);
void writeFile(const std::string& path, const std::string& bytes);
bool pathExists(const std::string& path);
void removeTree(const std::string& path);

struct RunOptions {
    // Variables to set (a value) or remove (std::nullopt) in the child's environment.
    std::map<std::string, std::optional<std::string>> env;
    std::string input;                 // written to the child's standard input, then closed
    std::string cwd;                   // working directory; empty: the test's own
    std::chrono::milliseconds timeout{60000};
};

struct RunResult {
    int status = -1;        // exit status; -1 when the child was killed or did not start
    bool timedOut = false;
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
};

// Runs argv[0] (a path) with the other words as its arguments, waits for it within the
// time-out (then kills it) and returns what it did.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

// A program running in the background while a test talks to it (a server, a simulator).
// Its standard output is read line by line; standard error goes to the test's own.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv, const RunOptions& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The next line of standard output without its line feed; nothing at end of output or
    // when no whole line arrived within the time-out.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Reads lines until one contains `needle`; returns that line.
    std::optional<std::string> waitForLine(const std::string& needle,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Asks the program to end (SIGTERM), waits up to the time-out, then kills it.
    // Returns the exit status, or -1 when it had to be killed or ended by a signal.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

// Calls `condition` every few milliseconds until it holds or the time-out passes; returns its
// last answer. Tests wait on conditions with generous bounds, never on fixed sleeps.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20),
             std::chrono::milliseconds interval = std::chrono::milliseconds(5));

// CPU time (user + system) this process has used so far.
std::chrono::microseconds processCpuTime();

}  // namespace hxtest
