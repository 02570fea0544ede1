// Requests to the update server and the decoding of what it sends back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

// Decodes standard base64 text (A-Z, a-z, 0-9, "+", "/", "=" padding a short last group).
// The buffer holds the decoded bytes followed by one zero byte. Text whose length is not a
// multiple of four, or that holds any other character or padding before its last group,
// decodes to nothing (null) so that a damaged image is never stored as if it were whole.
std::unique_ptr<uint8_t[]> base64Decode(const char* text, size_t length, size_t* decodedLength);

// One request's outcome: the URL that was asked, the HTTP status and the body as received.
struct ServerReply {
    std::string url;
    long status = 0;
    std::string body;
};

// Request parameters, ordered by key; the query string follows this order.
using ServerParameters = std::map<std::string, std::string>;

// The update server's five requests. Each returns true on success and reports failures only
// as diagnostics under DEBUG_ServerComm; a null base URL means the default server.
class ServerCommClass {
public:
    // Bounds on one request, so that a dead or silent server cannot hang the program.
    struct Limits {
        long connectSeconds = 30;          // the connection must be made within this
        long silentSeconds = 60;           // a transfer that receives nothing this long fails
        size_t maxBodyBytes = 64u << 20;   // a larger reply is a transport failure
    };
    static void setLimits(const Limits& limits);
    static Limits limits();
    // A file of the certificate authorities that https servers are verified against, for a
    // lab that signs its own server's certificate; empty (the default): the system's own.
    static void setCertificateAuthorities(const std::string& file);

    static bool ping(const char* baseUrl);
    static bool QueryBuild(uint32_t serialNumber, std::string& build, std::string& designation,
                           const char* baseUrl);
    static bool GetBuildList(uint32_t serialNumber, std::map<std::string, std::string>& builds,
                             const char* baseUrl);
    static bool GetBuild(uint32_t serialNumber, const std::string& designation, const std::string& build,
                         std::string& image, const char* baseUrl, bool noCalibration);
    static bool GetRecoveryInfo(const uint32_t chipIdentifier[4], uint32_t& serialNumber, uint32_t& build,
                                const char* baseUrl);

    // Performs one GET of the base URL with the parameters as query; throws std::runtime_error
    // with libcurl's description of the failure when the transfer itself fails.
    static void sendServerRequest(ServerReply& reply, const char* baseUrl, const ServerParameters& parameters);
};
