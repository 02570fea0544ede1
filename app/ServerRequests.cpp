// The update server's requests over libcurl, and the parsing of their replies.
#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "ServerComm.h"
#include "Store.h"
#include "UpdaterDisplay.h"
#include "UpdaterSettings.h"

namespace {

std::mutex gSettingsLock;
ServerCommClass::Limits gLimits;
std::string gAuthorities;

struct Transfer {
    ServerReply* reply;
    size_t maxBodyBytes;
};

size_t sReceiveData(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    debugPrintf(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", static_cast<int>(size),
                static_cast<int>(count), static_cast<unsigned>(reinterpret_cast<uintptr_t>(transfer->reply)),
                static_cast<int>(bytes < 100 ? bytes : 100), data);
    // Refusing the data makes libcurl fail the transfer: a reply this large is no reply.
    if (transfer->reply->body.size() + bytes > transfer->maxBodyBytes) return 0;
    transfer->reply->body.append(data, bytes);
    debugPrintf(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(bytes));
    return bytes;
}

std::string buildUrl(const char* baseUrl, const ServerParameters& parameters) {
    std::string url = baseUrl ? baseUrl : kDefaultServerAddress;
    if (parameters.empty()) return url;
    url += '?';
    for (const auto& [key, value] : parameters) url += key + "=" + value + "&";
    return url;
}

// The body's non-empty lines, split at line feeds; the first is the status line.
std::vector<std::string> replyLines(const std::string& body) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        if (end > start) lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Sends the request and checks status and status line; the payload lines on success.
bool sExchange(const char* name, const char* baseUrl, const ServerParameters& parameters,
               std::vector<std::string>& payload) {
    ServerReply reply;
    try {
        ServerCommClass::sendServerRequest(reply, baseUrl, parameters);
    } catch (const std::exception& e) {
        debugPrintf(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
        return false;
    }
    if (reply.status != 200) {
        if (std::string(name) == "ping")
            debugPrintf(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", static_cast<int>(reply.status), reply.body.c_str());
        else
            debugPrintf(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, static_cast<int>(reply.status),
                        reply.body.c_str());
        return false;
    }
    std::vector<std::string> lines = replyLines(reply.body);
    if (lines.empty() || lines[0].compare(0, 2, "ok") != 0) {
        debugPrintf(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, reply.url.c_str());
        return false;
    }
    payload.assign(lines.begin() + 1, lines.end());
    return true;
}

std::string upTo(const std::string& line, const char* stops) { return line.substr(0, line.find_first_of(stops)); }

}  // namespace

void ServerCommClass::setLimits(const Limits& limits) {
    std::lock_guard<std::mutex> hold(gSettingsLock);
    gLimits = limits;
}

ServerCommClass::Limits ServerCommClass::limits() {
    std::lock_guard<std::mutex> hold(gSettingsLock);
    return gLimits;
}

void ServerCommClass::setCertificateAuthorities(const std::string& file) {
    std::lock_guard<std::mutex> hold(gSettingsLock);
    gAuthorities = file;
}

void ServerCommClass::sendServerRequest(ServerReply& reply, const char* baseUrl, const ServerParameters& parameters) {
    // libcurl's global set-up is not safe to race; do it once before the first handle.
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) throw std::runtime_error("Could not create curl instance");
    Limits bounds;
    std::string authorities;
    {
        std::lock_guard<std::mutex> hold(gSettingsLock);
        bounds = gLimits;
        authorities = gAuthorities;
    }
    Transfer transfer{&reply, bounds.maxBodyBytes};
    reply.url = buildUrl(baseUrl, parameters);

    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK) code = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_WRITEFUNCTION, sReceiveData);
    set(CURLOPT_WRITEDATA, &transfer);
    set(CURLOPT_URL, reply.url.c_str());
    // Verify the peer and its name: an unverified server could hand a module any firmware.
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    if (!authorities.empty()) set(CURLOPT_CAINFO, authorities.c_str());
    set(CURLOPT_CONNECTTIMEOUT, bounds.connectSeconds);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, bounds.silentSeconds);
    // Time-outs without signals: the download runs this on a worker thread.
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTPGET, 1L);
    debugPrintf(DEBUG_ServerComm, "GET(%s)\n", reply.url.c_str());
    if (code == CURLE_OK) code = curl_easy_perform(curl);
    if (code == CURLE_OK) code = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) throw std::runtime_error(curl_easy_strerror(code));
}

bool ServerCommClass::ping(const char* baseUrl) {
    std::vector<std::string> payload;
    return sExchange("ping", baseUrl, {{"op", "hi"}, {"rv", "2"}}, payload);
}

bool ServerCommClass::QueryBuild(uint32_t serialNumber, std::string& build, std::string& designation,
                                 const char* baseUrl) {
    std::vector<std::string> payload;
    if (!sExchange("QueryBuild", baseUrl, {{"op", "qu"}, {"sn", serialText(serialNumber)}}, payload)) return false;
    if (payload.size() > 0) build = payload[0];
    if (payload.size() > 1) designation = upTo(payload[1], "\r");
    return true;
}

bool ServerCommClass::GetBuildList(uint32_t serialNumber, std::map<std::string, std::string>& builds,
                                   const char* baseUrl) {
    builds.clear();
    std::vector<std::string> payload;
    if (!sExchange("GetBuildList", baseUrl, {{"op", "builds"}, {"sn", serialText(serialNumber)}}, payload))
        return false;
    for (const std::string& line : payload) {
        if (line.size() < 3) continue;
        debugPrintf(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
        std::vector<std::string> pieces;
        for (size_t at = line.find_first_not_of(";\r"); at != std::string::npos;
             at = line.find_first_not_of(";\r", at)) {
            size_t end = line.find_first_of(";\r", at);
            pieces.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
            at = end;
        }
        if (pieces.empty()) continue;
        const std::string version = pieces.size() > 1 ? pieces[1] : "";
        builds.emplace(pieces[0], version);
        debugPrintf(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", pieces[0].c_str(), version.c_str());
    }
    return true;
}

bool ServerCommClass::GetBuild(uint32_t serialNumber, const std::string& designation, const std::string& build,
                               std::string& image, const char* baseUrl, bool noCalibration) {
    std::vector<std::string> payload;
    const ServerParameters parameters{{"op", "kite"},
                                      {"sn", serialText(serialNumber)},
                                      {"fw", designation},
                                      {"bld", build},
                                      {"no_cal", noCalibration ? "true" : "false"}};
    if (!sExchange("GetBuild", baseUrl, parameters, payload)) return false;
    image.clear();
    if (!payload.empty()) image = payload[0];
    return true;
}

bool ServerCommClass::GetRecoveryInfo(const uint32_t chipIdentifier[4], uint32_t& serialNumber, uint32_t& build,
                                      const char* baseUrl) {
    char fingerprint[64];
    snprintf(fingerprint, sizeof fingerprint, "%08X%%20%08X%%20%08X%%20%08X", chipIdentifier[0], chipIdentifier[1],
             chipIdentifier[2], chipIdentifier[3]);
    std::vector<std::string> payload;
    if (!sExchange("GetRecoveryInfo", baseUrl, {{"op", "fix"}, {"brief", "true"}, {"fp", fingerprint}}, payload))
        return false;
    if (payload.size() > 0) serialNumber = static_cast<uint32_t>(strtoul(payload[0].c_str(), nullptr, 16));
    if (payload.size() > 1) build = static_cast<uint32_t>(strtoul(payload[1].c_str(), nullptr, 0));
    debugPrintf(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", "ok",
                payload.size() > 0 ? payload[0].c_str() : "", payload.size() > 1 ? payload[1].c_str() : "");
    return true;
}
