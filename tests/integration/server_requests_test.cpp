// The update server's requests: the query strings a server sees, the reply rules against a raw
// responder of the test's own (status, status line, line ends, silence, an over-long body), and
// the five operations against the reference update server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <curl/curl.h>

#include "ServerComm.h"
#include "RawResponder.h"
#include "TestSupport.h"

namespace {

using hxtest::RawResponder;

std::string http(int status, const std::string& body) { return hxtest::httpResponse(status, body); }

// Tests shorten the bounds; every test puts the defaults back.
class ServerRequests : public ::testing::Test {
protected:
    void TearDown() override { ServerCommClass::setLimits(ServerCommClass::Limits{}); }
};

TEST_F(ServerRequests, QueryStringsAreOrderedByKeyAndEndInAmpersand) {
    RawResponder server(http(200, "ok\n"));
    const std::string base = server.url();
    std::string build, designation, image;
    std::map<std::string, std::string> builds;
    uint32_t serial = 0, bld = 0;
    const uint32_t chip[4] = {0xC0DE, 0x11112222, 0x33334444, 0x55556666};
    EXPECT_TRUE(ServerCommClass::ping(base.c_str()));
    EXPECT_TRUE(ServerCommClass::QueryBuild(0x40F5849A, build, designation, base.c_str()));
    EXPECT_TRUE(ServerCommClass::GetBuildList(0x1234, builds, base.c_str()));
    EXPECT_TRUE(ServerCommClass::GetBuild(0x40F5849A, "SelectorC", "200", image, base.c_str(), false));
    EXPECT_TRUE(ServerCommClass::GetBuild(0x40F5849A, "SelectorC", "200", image, base.c_str(), true));
    EXPECT_TRUE(ServerCommClass::GetRecoveryInfo(chip, serial, bld, base.c_str()));
    EXPECT_EQ(server.requestLines(),
              (std::vector<std::string>{
                  "GET /cgi/u?op=hi&rv=2& HTTP/1.1",
                  "GET /cgi/u?op=qu&sn=40F5849A& HTTP/1.1",
                  "GET /cgi/u?op=builds&sn=00001234& HTTP/1.1",
                  "GET /cgi/u?bld=200&fw=SelectorC&no_cal=false&op=kite&sn=40F5849A& HTTP/1.1",
                  "GET /cgi/u?bld=200&fw=SelectorC&no_cal=true&op=kite&sn=40F5849A& HTTP/1.1",
                  "GET /cgi/u?brief=true&fp=0000C0DE%2011112222%2033334444%2055556666&op=fix& HTTP/1.1",
              }));
}

struct ReplyCase {
    const char* name;
    int status;
    const char* body;
    bool accepted;
};

TEST_F(ServerRequests, StatusAndStatusLineDecide) {
    const ReplyCase cases[] = {
        {"not found", 404, "ok\n", false},
        {"server error", 500, "", false},
        {"first line not ok", 200, "no\nok\n", false},
        {"empty body", 200, "", false},
        {"only blank lines", 200, "\n\n", false},
        {"ok with more on the line", 200, "okay then\r\n", true},
        {"ok after blank lines", 200, "\n\nok\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawResponder server(http(c.status, c.body));
        EXPECT_EQ(ServerCommClass::ping(server.url().c_str()), c.accepted);
    }
}

TEST_F(ServerRequests, AStatusLineAloneLeavesOutputsAsTheyWere) {
    RawResponder server(http(200, "ok\n"));
    std::string build = "keep", designation = "keep too", image = "old";
    EXPECT_TRUE(ServerCommClass::QueryBuild(1, build, designation, server.url().c_str()));
    EXPECT_EQ(build, "keep");
    EXPECT_EQ(designation, "keep too");
    EXPECT_TRUE(ServerCommClass::GetBuild(1, "F", "1", image, server.url().c_str(), false));
    EXPECT_EQ(image, "");
}

TEST_F(ServerRequests, CarriageReturnsStayInTheBuildLineOnly) {
    RawResponder server(http(200, "ok\r\n1234\r\nSelectorC\r\n"));
    std::string build, designation;
    ASSERT_TRUE(ServerCommClass::QueryBuild(1, build, designation, server.url().c_str()));
    EXPECT_EQ(build, "1234\r");
    EXPECT_EQ(designation, "SelectorC");
}

TEST_F(ServerRequests, BuildListKeepsTheFirstOfEachBuildAndSkipsShortLines) {
    RawResponder server(http(200, "ok\n5;1.0.0\n5;2.0.0\n7;1.1.0\nx\n;;9\r\n12\n"));
    std::map<std::string, std::string> builds{{"stale", "1"}};
    ASSERT_TRUE(ServerCommClass::GetBuildList(1, builds, server.url().c_str()));
    // "x" and "12" are shorter than three characters; ";;9\r" has no version.
    EXPECT_EQ(builds, (std::map<std::string, std::string>{{"5", "1.0.0"}, {"7", "1.1.0"}, {"9", ""}}));
}

TEST_F(ServerRequests, RecoveryAnswerIsHexadecimalThenAutomaticBase) {
    const uint32_t chip[4] = {1, 2, 3, 4};
    struct {
        const char* body;
        uint32_t serial, build;
    } cases[] = {{"ok\n40F5849A\n200\n", 0x40F5849A, 200}, {"ok\n1a\n0x10\n", 0x1A, 16}, {"ok\nFF\n010\n", 0xFF, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        RawResponder server(http(200, c.body));
        uint32_t serial = 0, build = 0;
        ASSERT_TRUE(ServerCommClass::GetRecoveryInfo(chip, serial, build, server.url().c_str()));
        EXPECT_EQ(serial, c.serial);
        EXPECT_EQ(build, c.build);
    }
}

TEST_F(ServerRequests, ASilentServerFailsWithinTheBound) {
    ServerCommClass::setLimits({30, 1, 64u << 20});
    RawResponder server("", true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ServerCommClass::ping(server.url().c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    ServerReply reply;
    EXPECT_THROW(ServerCommClass::sendServerRequest(reply, server.url().c_str(), {{"op", "hi"}}), std::runtime_error);
}

// A listener whose accept queue is full: the kernel drops further connection attempts, so a
// connection is never made, as with a dead host.
TEST_F(ServerRequests, AConnectionNotMadeWithinTheBoundFails) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    ServerCommClass::setLimits({1, 60, 64u << 20});
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/cgi/u";
    const auto start = std::chrono::steady_clock::now();
    ServerReply reply;
    try {
        ServerCommClass::sendServerRequest(reply, url.c_str(), {{"op", "hi"}});
        ADD_FAILURE() << "a connection that was never made gave a reply";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    for (int filler : fillers) close(filler);
    close(listener);
}

TEST_F(ServerRequests, AReplyOverTheCapIsATransportFailure) {
    ServerCommClass::setLimits({30, 60, 1000});
    RawResponder big(http(200, "ok\n" + std::string(2000, 'A') + "\n"));
    std::string image;
    EXPECT_FALSE(ServerCommClass::GetBuild(1, "F", "1", image, big.url().c_str(), false));
    RawResponder fits(http(200, "ok\n" + std::string(900, 'A') + "\n"));
    EXPECT_TRUE(ServerCommClass::GetBuild(1, "F", "1", image, fits.url().c_str(), false));
    EXPECT_EQ(image, std::string(900, 'A'));
}

TEST_F(ServerRequests, NoServerListeningIsATransportFailure) {
    int port = 0;
    {
        RawResponder gone(http(200, "ok\n"));
        port = std::stoi(gone.url().substr(17));
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cgi/u";
    ServerReply reply;
    try {
        ServerCommClass::sendServerRequest(reply, url.c_str(), {});
        FAIL() << "a refused connection was reported as a reply";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Couldn't connect to server");
    }
}

std::vector<std::string> updateServerWords() {
    return {hxtest::programPath("update-server"), "--repository", hxtest::fixturePath("repository"), "--address",
            "127.0.0.1", "--port", "0"};
}

// The base URL of a started update-server, read from the line it prints once it listens.
std::string baseUrlOf(hxtest::Process& server) {
    auto line = server.waitForLine("listening on 127.0.0.1:");
    if (!line) return "";
    return "http://127.0.0.1:" + line->substr(line->rfind(':') + 1) + "/cgi/u";
}

// Against the reference update server over the sample repository.
TEST(ServerRequestsAgainstUpdateServer, FiveOperations) {
    hxtest::Process server(updateServerWords());
    const std::string base = baseUrlOf(server);
    ASSERT_FALSE(base.empty());

    EXPECT_TRUE(ServerCommClass::ping(base.c_str()));
    std::string build, designation;
    ASSERT_TRUE(ServerCommClass::QueryBuild(0x40F5849A, build, designation, base.c_str()));
    EXPECT_EQ(build, "200");
    EXPECT_EQ(designation, "SelectorC");
    EXPECT_FALSE(ServerCommClass::QueryBuild(0x00000001, build, designation, base.c_str()));

    std::map<std::string, std::string> builds;
    ASSERT_TRUE(ServerCommClass::GetBuildList(0x40F5849A, builds, base.c_str()));
    EXPECT_EQ(builds, (std::map<std::string, std::string>{{"100", "2.10.4"}, {"200", "2.12.1"}}));

    std::string image;
    ASSERT_TRUE(ServerCommClass::GetBuild(0x40F5849A, "SelectorC", "200", image, base.c_str(), false));
    size_t length = 0;
    auto bytes = base64Decode(image.data(), image.size(), &length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.get()), length),
              hxtest::readFile(hxtest::fixturePath("repository/images/SelectorC/200.kite")));

    const uint32_t chip[4] = {0x0000C0DE, 0x11112222, 0x33334444, 0x55556666};
    uint32_t serial = 0, recoveryBuild = 0;
    ASSERT_TRUE(ServerCommClass::GetRecoveryInfo(chip, serial, recoveryBuild, base.c_str()));
    EXPECT_EQ(serial, 0x40F5849Au);
    EXPECT_EQ(recoveryBuild, 200u);
    EXPECT_EQ(server.stop(), 0);
}

}  // namespace

namespace {

// -B as a user runs it, against the reference update server.
TEST(UpdaterServerBuildList, ListsTheServersBuildsNewestFirst) {
    hxtest::Process server(updateServerWords());
    const std::string base = baseUrlOf(server);
    ASSERT_FALSE(base.empty());
    hxtest::TempDir voltaris;
    auto run = [&](const std::string& serial) {
        return hxtest::run({hxtest::programPath("Updater"), "-B", "-d", serial, "-u", base, "-i", voltaris.path()});
    };
    const hxtest::RunResult listed = run("40F5849A");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("Build List for device [40F5849A]:\n\n"
                              "Build          \tVersion        \n"
                              "200            \t2.12.1         \n"
                              "100            \t2.10.4         \n"),
              std::string::npos)
        << listed.out;

    const hxtest::RunResult unknown = run("00000001");
    EXPECT_EQ(unknown.status, 0);
    EXPECT_NE(unknown.err.find("Failed to retrieve builds for 00000001\n"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.out.find("No builds found for device [00000001]\n"), std::string::npos) << unknown.out;
    EXPECT_EQ(server.stop(), 0);
}

}  // namespace

namespace {

// https: the server's certificate must verify, chain and name both, before a byte is trusted.
// The certificates are made here with the openssl tool, and `openssl s_server` is the peer.
class ServerTls : public ::testing::Test {
protected:
    void SetUp() override {
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 dir_ / "ca.key", "-out", dir_ / "ca.pem", "-days", "2", "-subj", "/CN=Lab test authority"});
        makeCertificate("good", "subjectAltName=IP:127.0.0.1");
        makeCertificate("othername", "subjectAltName=DNS:updates.example");
        openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 dir_ / "self.key", "-out", dir_ / "self.pem", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                 "subjectAltName=IP:127.0.0.1"});
    }
    void TearDown() override { ServerCommClass::setCertificateAuthorities(""); }

    void openssl(std::vector<std::string> words) {
        words.insert(words.begin(), "/usr/bin/openssl");
        const hxtest::RunResult made = hxtest::run(words);
        ASSERT_EQ(made.status, 0) << made.err;
    }
    // A key and a certificate signed by the test authority with the extension given.
    void makeCertificate(const std::string& name, const std::string& extension) {
        hxtest::writeFile(dir_ / (name + ".ext"), extension + "\n");
        openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 dir_ / (name + ".key"), "-out", dir_ / (name + ".csr"), "-subj", "/CN=update server"});
        openssl({"x509", "-req", "-in", dir_ / (name + ".csr"), "-CA", dir_ / "ca.pem", "-CAkey", dir_ / "ca.key",
                 "-CAcreateserial", "-out", dir_ / (name + ".pem"), "-days", "2", "-extfile", dir_ / (name + ".ext")});
    }
    // Sends one request to an https server presenting the named certificate; the failure's
    // text, or empty when a reply came.
    std::string requestWith(const std::string& name, ServerReply& reply) {
        hxtest::Process server({"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:0", "-cert",
                                dir_ / (name + ".pem"), "-key", dir_ / (name + ".key"), "-www"});
        auto line = server.waitForLine("ACCEPT 127.0.0.1:");
        if (!line) return "s_server did not start";
        const std::string url = "https://127.0.0.1:" + line->substr(line->rfind(':') + 1) + "/cgi/u";
        try {
            ServerCommClass::sendServerRequest(reply, url.c_str(), {{"op", "hi"}, {"rv", "2"}});
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    hxtest::TempDir dir_;
};

TEST_F(ServerTls, OnlyAVerifiedServerIsAnswered) {
    ServerReply reply;
    // Not signed by any authority this machine trusts.
    EXPECT_EQ(requestWith("self", reply), curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION));
    EXPECT_EQ(reply.status, 0);

    ServerCommClass::setCertificateAuthorities(dir_ / "ca.pem");
    // Signed, but for another name than the one asked for.
    EXPECT_EQ(requestWith("othername", reply), curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION));
    EXPECT_EQ(reply.status, 0);
    // Signed and named: the same request goes through.
    EXPECT_EQ(requestWith("good", reply), "");
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.body.empty());
}

}  // namespace
