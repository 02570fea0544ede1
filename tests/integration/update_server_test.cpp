// The reference update server over the sample repository: the five operations, refusals of
// unknown operations and bad parameters, the request log, and no way out of the repository.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <optional>
#include <string>

#include "TestSupport.h"

namespace {

class UpdateServer : public ::testing::Test {
protected:
    void SetUp() override {
        server_.emplace(std::vector<std::string>{hxtest::programPath("update-server"), "--repository",
                                                 hxtest::fixturePath("repository"), "--address",
                                                 "127.0.0.1", "--port", "0"});
        auto line = server_->waitForLine("listening on 127.0.0.1:");
        ASSERT_TRUE(line.has_value());
        port_ = std::stoi(line->substr(line->rfind(':') + 1));
        ASSERT_GT(port_, 0);
    }
    void TearDown() override {
        if (server_) {
            EXPECT_EQ(server_->stop(), 0);
        }
    }

    // The query is sent exactly as written, as the Updater sends it.
    std::pair<int, std::string> get(const std::string& query) {
        std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/cgi/u?" + query;
        std::string body;
        CURL* handle = curl_easy_init();
        if (!handle) return {-1, ""};
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 20L);
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, 60L);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
        long status = -1;
        if (curl_easy_perform(handle) == CURLE_OK)
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(handle);
        return {static_cast<int>(status), body};
    }

    static size_t collect(char* data, size_t size, size_t count, void* body) {
        static_cast<std::string*>(body)->append(data, size * count);
        return size * count;
    }

    std::optional<hxtest::Process> server_;
    int port_ = 0;
};

// A plain bit-by-bit decoder of the test's own, so the server's encoder is checked against
// the repository file rather than against itself.
std::string referenceDecode(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned bits = 0, count = 0;
    for (char c : text) {
        if (c == '=') break;
        bits = (bits << 6) | static_cast<unsigned>(alphabet.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

struct Case {
    const char* query;
    int status;
    const char* body;
};

// Test names show the query rather than the bytes of the case record.
void PrintTo(const Case& c, std::ostream* os) { *os << (*c.query ? c.query : "(no query)"); }

class UpdateServerReplies : public UpdateServer, public ::testing::WithParamInterface<Case> {};

TEST_P(UpdateServerReplies, AnswersWithStatusAndText) {
    auto [status, body] = get(GetParam().query);
    EXPECT_EQ(status, GetParam().status) << GetParam().query;
    EXPECT_EQ(body, GetParam().body) << GetParam().query;
}

INSTANTIATE_TEST_SUITE_P(
    Operations, UpdateServerReplies,
    ::testing::Values(
        Case{"op=hi&rv=2&", 200, "ok\n"},
        Case{"op=qu&sn=40F5849A&", 200, "ok\n200\nSelectorC\n"},
        Case{"op=qu&sn=40f5849a&", 200, "ok\n200\nSelectorC\n"},
        Case{"op=builds&sn=40F5849A&", 200, "ok\n100;2.10.4\n200;2.12.1\n"},
        Case{"brief=true&fp=0000C0DE%2011112222%2033334444%2055556666&op=fix&", 200,
             "ok\n40F5849A\n200\n"},
        Case{"brief=true&fp=00000000%2011112222%2033334444%2055556666&op=fix&", 404,
             "unknown chip fingerprint\n"},
        Case{"brief=true&fp=0000C0DE&op=fix&", 400, "bad chip fingerprint\n"},
        Case{"op=qu&sn=00000001&", 404, "unknown module\n"},
        Case{"op=qu&sn=40F5849&", 400, "bad serial number\n"},
        Case{"op=builds&sn=../../etc&", 400, "bad serial number\n"},
        Case{"op=nope&", 400, "unknown operation\n"},
        Case{"", 400, "unknown operation\n"},
        Case{"bld=150&fw=SelectorC&no_cal=false&op=kite&sn=40F5849A&", 404,
             "build not available for this module\n"},
        Case{"bld=1x&fw=SelectorC&no_cal=false&op=kite&sn=40F5849A&", 400, "bad build number\n"},
        Case{"bld=100&fw=..&no_cal=false&op=kite&sn=40F5849A&", 400, "bad firmware designation\n"},
        Case{"bld=100&fw=../modules&no_cal=false&op=kite&sn=40F5849A&", 400,
             "bad firmware designation\n"},
        Case{"bld=100&fw=%2E%2E%2Fmodules&no_cal=false&op=kite&sn=40F5849A&", 400,
             "bad firmware designation\n"},
        Case{"bld=100&fw=Other&no_cal=false&op=kite&sn=40F5849A&", 404, "no image for this build\n"}));

TEST_F(UpdateServer, ServesTheImageAsOneBase64Line) {
    for (const char* build : {"100", "200"}) {
        auto [status, body] =
            get(std::string("bld=") + build + "&fw=SelectorC&no_cal=false&op=kite&sn=40F5849A&");
        ASSERT_EQ(status, 200);
        ASSERT_EQ(body.rfind("ok\n", 0), 0u);
        ASSERT_EQ(body.back(), '\n');
        std::string text = body.substr(3, body.size() - 4);
        EXPECT_EQ(text.find('\n'), std::string::npos);
        EXPECT_EQ(text.size() % 4, 0u);
        std::string image = hxtest::readFile(hxtest::fixturePath("repository") +
                                             "/images/SelectorC/" + build + ".kite");
        EXPECT_EQ(referenceDecode(text), image) << build;
    }
}

TEST_F(UpdateServer, LogsOneLinePerRequest) {
    get("op=qu&sn=40F5849A&");
    auto line = server_->waitForLine("/cgi/u");
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find("op=qu&sn=40F5849A&"), std::string::npos) << *line;
    EXPECT_NE(line->find("200"), std::string::npos) << *line;
    get("op=nope&");
    line = server_->waitForLine("/cgi/u");
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find("400"), std::string::npos) << *line;
}

TEST(UpdateServerProgram, RefusesMissingRepositoryAndBadPort) {
    auto noRepository = hxtest::run({hxtest::programPath("update-server"), "--port", "0"});
    EXPECT_EQ(noRepository.status, 2);
    EXPECT_NE(noRepository.err.find("usage"), std::string::npos);
    auto badPort = hxtest::run({hxtest::programPath("update-server"), "--repository", "/tmp",
                                "--port", "70000"});
    EXPECT_EQ(badPort.status, 2);
}

}  // namespace
