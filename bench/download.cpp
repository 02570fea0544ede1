// Time of one 1 MiB image download from update-server on loopback: the GetBuild request
// (op=kite) and its whole base64 reply, received with libcurl's easy interface; and the whole
// download as -G runs it (ping, build query, build list, the request on its worker thread,
// decoding, the file written to disk and the record saved).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "UpdaterApp.h"
#include "UpdaterDisplay.h"

namespace {

namespace fs = std::filesystem;

size_t collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// A repository of one module whose build 1 is a 1 MiB image of random bytes.
fs::path makeRepository() {
    fs::path root = fs::temp_directory_path() / ("bench-repository-" + std::to_string(getpid()));
    fs::create_directories(root / "modules");
    fs::create_directories(root / "images" / "Bench");
    std::ofstream(root / "modules" / "40F5849A") << "current 1 Bench\nbuild 1 1.0.0\n";
    std::mt19937 random(7);
    std::string image(1 << 20, '\0');
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream(root / "images" / "Bench" / "1.kite", std::ios::binary) << image;
    return root;
}

// Starts update-server (beside this program) on an ephemeral port; returns its pid and port.
std::pair<pid_t, int> startServer(const fs::path& repository) {
    fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "update-server";
    int out[2];
    if (pipe(out) != 0) return {-1, 0};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(program.c_str(), program.c_str(), "--repository", repository.c_str(), "--port", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[256] = {};
    int port = 0;
    if (lines && std::fgets(line, sizeof line, lines)) {
        std::string text = line;
        port = std::atoi(text.substr(text.rfind(':') + 1).c_str());
    }
    // The server's request log is not read; closing the pipe would end it on the first write.
    std::thread([lines] { char skip[512]; while (lines && std::fgets(skip, sizeof skip, lines)) {} }).detach();
    return {pid, port};
}

void BM_Download1MiB(benchmark::State& state) {
    fs::path repository = makeRepository();
    auto [pid, port] = startServer(repository);
    if (pid < 0 || port <= 0) {
        state.SkipWithError("update-server did not start");
        fs::remove_all(repository);
        return;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(port) +
                      "/cgi/u?bld=1&fw=Bench&no_cal=false&op=kite&sn=40F5849A&";
    size_t received = 0;
    for (auto _ : state) {
        std::string body;
        CURL* handle = curl_easy_init();
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, 60L);
        CURLcode result = curl_easy_perform(handle);
        curl_easy_cleanup(handle);
        if (result != CURLE_OK || body.rfind("ok\n", 0) != 0) {
            state.SkipWithError("download failed");
            break;
        }
        received = body.size();
    }
    state.counters["reply_bytes"] = static_cast<double>(received);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(repository);
}
BENCHMARK(BM_Download1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

struct QuietDisplay : UpdaterDisplayInterface {
    void endProgress(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showInfo(const char*) override {}
    void showError(const char*) override {}
};

void BM_DownloadFirmware1MiB(benchmark::State& state) {
    fs::path repository = makeRepository();
    fs::path store = repository / "store";
    auto [pid, port] = startServer(repository);
    if (pid < 0 || port <= 0) {
        state.SkipWithError("update-server did not start");
        fs::remove_all(repository);
        return;
    }
    QuietDisplay display;
    UpdaterApp app("http://127.0.0.1:" + std::to_string(port) + "/cgi/u", store.string(), display);
    for (auto _ : state) {
        if (app.Download_Firmware(0x40F5849A, "", false, false) != 1) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(store / "40F5849A" / "1.kite"));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(repository);
}
BENCHMARK(BM_DownloadFirmware1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
