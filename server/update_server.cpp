// update-server: answers the Updater's GET /cgi/u requests from a firmware repository
// directory (layout in README.md). Every file it serves is named by tokens it has checked
// itself, so no request can reach a file outside the repository.
#include <httplib.h>

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Reply {
    int status;
    std::string body;
};

Reply failure(int status, const std::string& text) { return {status, text + "\n"}; }

bool allOf(const std::string& text, const char* allowed, size_t minLength, size_t maxLength) {
    return text.size() >= minLength && text.size() <= maxLength &&
           text.find_first_not_of(allowed) == std::string::npos;
}

bool isSerial(const std::string& text) { return allOf(text, "0123456789ABCDEFabcdef", 8, 8); }
bool isBuild(const std::string& text) { return allOf(text, "0123456789", 1, 9); }
bool isDesignation(const std::string& text) {
    return allOf(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-", 1, 64) &&
           text.find_first_not_of('.') != std::string::npos;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::string> readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::vector<std::string>> readRecords(const std::string& path) {
    std::vector<std::vector<std::string>> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string> record;
        for (std::string word; words >> word;) record.push_back(word);
        if (!record.empty()) records.push_back(record);
    }
    return records;
}

// One module's file: "current BUILD DESIGNATION" and one "build NUMBER VERSION" per build.
struct ModuleRecord {
    std::string currentBuild;
    std::string designation;
    std::vector<std::pair<std::string, std::string>> builds;
};

std::optional<ModuleRecord> loadModule(const std::string& repository, const std::string& serial) {
    std::string path = repository + "/modules/" + upper(serial);
    if (!readWhole(path)) return std::nullopt;
    ModuleRecord module;
    for (const auto& record : readRecords(path)) {
        if (record[0] == "current" && record.size() >= 3) {
            module.currentBuild = record[1];
            module.designation = record[2];
        } else if (record[0] == "build" && record.size() >= 3) {
            module.builds.emplace_back(record[1], record[2]);
        }
    }
    return module;
}

std::string base64Encode(const std::string& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t at = 0; at < bytes.size(); at += 3) {
        size_t count = std::min<size_t>(3, bytes.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i)
            group = (group << 8) | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0u);
        for (size_t i = 0; i < 4; ++i)
            text += i <= count ? alphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
    return text;
}

class Repository {
public:
    explicit Repository(std::string root) : root_(std::move(root)) {}

    Reply answer(const httplib::Params& params) const {
        auto value = [&](const char* key) -> std::string {
            auto found = params.find(key);
            return found == params.end() ? std::string() : found->second;
        };
        std::string op = value("op");
        if (op == "hi") return {200, "ok\n"};
        if (op == "fix") return recovery(value("fp"));
        if (op != "qu" && op != "builds" && op != "kite") return failure(400, "unknown operation");
        std::string serial = value("sn");
        if (!isSerial(serial)) return failure(400, "bad serial number");
        auto module = loadModule(root_, serial);
        if (!module) return failure(404, "unknown module");
        if (op == "qu") return {200, "ok\n" + module->currentBuild + "\n" + module->designation + "\n"};
        if (op == "builds") {
            std::string body = "ok\n";
            for (const auto& [build, version] : module->builds) body += build + ";" + version + "\n";
            return {200, body};
        }
        return image(*module, value("bld"), value("fw"));
    }

private:
    Reply image(const ModuleRecord& module, const std::string& build,
                const std::string& designation) const {
        if (!isBuild(build)) return failure(400, "bad build number");
        if (!isDesignation(designation)) return failure(400, "bad firmware designation");
        bool listed = false;
        for (const auto& entry : module.builds) listed = listed || entry.first == build;
        if (!listed) return failure(404, "build not available for this module");
        auto bytes = readWhole(root_ + "/images/" + designation + "/" + build + ".kite");
        if (!bytes) return failure(404, "no image for this build");
        return {200, "ok\n" + base64Encode(*bytes) + "\n"};
    }

    // recovery: "W0 W1 W2 W3 SERIAL BUILD" per chip fingerprint.
    Reply recovery(const std::string& fingerprint) const {
        std::istringstream words(fingerprint);
        std::vector<std::string> asked;
        for (std::string word; words >> word;) asked.push_back(upper(word));
        if (asked.size() != 4) return failure(400, "bad chip fingerprint");
        for (const auto& record : readRecords(root_ + "/recovery")) {
            if (record.size() < 6) continue;
            bool same = true;
            for (size_t i = 0; i < 4; ++i) same = same && upper(record[i]) == asked[i];
            if (same) return {200, "ok\n" + record[4] + "\n" + record[5] + "\n"};
        }
        return failure(404, "unknown chip fingerprint");
    }

    std::string root_;
};

int usage() {
    std::fprintf(stderr, "usage: update-server --repository DIR [--address ADDR] [--port PORT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string repository;
    std::string address = "127.0.0.1";
    int port = 8080;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        std::string argument = argv[++i];
        if (option == "--repository") repository = argument;
        else if (option == "--address") address = argument;
        else if (option == "--port") {
            char* end = nullptr;
            long number = std::strtol(argument.c_str(), &end, 10);
            if (argument.empty() || *end != '\0' || number < 0 || number > 65535) return usage();
            port = static_cast<int>(number);
        } else return usage();
    }
    if (repository.empty()) return usage();

    // SIGTERM and SIGINT are taken by one thread, which stops the server for a clean exit.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Repository repo(repository);
    httplib::Server server;
    server.Get("/cgi/u", [&](const httplib::Request& request, httplib::Response& response) {
        Reply reply = repo.answer(request.params);
        response.status = reply.status;
        response.set_content(reply.body, "text/plain");
    });
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        std::string query;
        for (const auto& [key, value] : request.params) query += key + "=" + value + "&";
        std::printf("%s %s %s -> %d\n", request.method.c_str(), request.path.c_str(),
                    query.c_str(), response.status);
        std::fflush(stdout);
    });

    int bound = port == 0 ? server.bind_to_any_port(address.c_str())
                          : (server.bind_to_port(address.c_str(), port) ? port : -1);
    if (bound < 0) {
        std::fprintf(stderr, "update-server: cannot listen on %s:%d\n", address.c_str(), port);
        return 1;
    }
    std::printf("update-server listening on %s:%d\n", address.c_str(), bound);
    std::fflush(stdout);

    std::thread stopper([&] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        server.stop();
    });
    bool served = server.listen_after_bind();
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served ? 0 : 1;
}
