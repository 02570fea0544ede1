// The download (-G): the build chosen, the check against the server's list, the worker and its
// activity indicator, what is stored and recorded, and every way it stops with nothing stored;
// against a raw responder of the test's own and, as a user runs it, against update-server.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RawResponder.h"
#include "RecordingDisplay.h"
#include "TestSupport.h"
#include "UpdaterApp.h"
#include "aError.h"

namespace {

constexpr uint32_t kSerial = 0x40F5849A;

// The op parameter of a request line "GET /cgi/u?...&op=NAME&... HTTP/1.1".
std::string opOf(const std::string& line)
{
    const size_t at = line.find("op=");
    if (at == std::string::npos)
        return "";
    return line.substr(at + 3, line.find('&', at) - at - 3);
}

std::string fixtureImage() { return hxtest::readFile(hxtest::fixturePath("repository/images/SelectorC/200.kite")); }

// A server that answers each op with a body of its own (status 200), and 404 for an op it
// does not know; kite replies may come late, as from a slow server.
struct FakeServer {
    std::map<std::string, std::string> bodies{
        {"hi", "ok\n"},
        {"qu", "ok\n200\nSelectorC\n"},
        {"builds", "ok\n100;2.10.4\n200;2.12.1\n"},
        {"kite", "ok\n" + hxtest::base64Encode(fixtureImage()) + "\n"},
    };
    std::chrono::milliseconds kiteDelay{0};

    hxtest::RawResponder::Handler handler() const
    {
        return [bodies = bodies, delay = kiteDelay](const std::string& line) {
            const std::string op = opOf(line);
            if (op == "kite" && delay.count() > 0)
                std::this_thread::sleep_for(delay);  // the slow server being imitated
            const auto found = bodies.find(op);
            return found == bodies.end() ? hxtest::httpResponse(404, "unknown operation")
                                         : hxtest::httpResponse(200, found->second);
        };
    }
};

class Download : public ::testing::Test {
protected:
    // The module's record before the download: an earlier download the record names.
    void SetUp() override
    {
        std::filesystem::create_directories(moduleDir());
        hxtest::writeFile(settingsPath(), kSettings);
    }
    uint32_t download(hxtest::RawResponder& server, uint32_t serial, const std::string& build, bool override)
    {
        UpdaterApp app(server.url(), store_.path(), display_);
        return app.Download_Firmware(serial, build, override, false);
    }
    std::string moduleDir() const { return store_ / "40F5849A"; }
    std::string settingsPath() const { return moduleDir() + "/.settings"; }
    std::vector<std::string> imageFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(moduleDir()))
            if (entry.path().extension() == ".kite")
                names.push_back(entry.path().filename());
        return names;
    }
    static std::vector<std::string> opsOf(hxtest::RawResponder& server)
    {
        std::vector<std::string> ops;
        for (const auto& line : server.requestLines())
            ops.push_back(opOf(line));
        return ops;
    }
    // The value of "KEY=" on a line of the record's attributes; empty when absent.
    std::string attribute(const std::string& key) const
    {
        const std::string text = "\n" + hxtest::readFile(settingsPath());
        const size_t at = text.find("\n" + key + "=");
        if (at == std::string::npos)
            return {};
        const size_t start = at + key.size() + 2;
        return text.substr(start, text.find('\n', start) - start);
    }

    static constexpr const char* kSettings = "CREATED_TIME=Thu Dec 10 09:00:00 2026\nLATEST_DOWNLOAD=100.kite\n";
    hxtest::TempDir store_;
    hxtest::RecordingDisplay display_;
};

TEST_F(Download, TheServersCurrentBuildIsStoredAndRecorded)
{
    FakeServer fake;
    fake.bodies["qu"] = "ok\n1234\nSelectorC\n";
    fake.bodies["builds"] = "ok\n100;2.10.4\n1234;2.13.0\n";
    hxtest::RawResponder server(fake.handler());

    EXPECT_EQ(download(server, kSerial, "", false), 1234u);
    EXPECT_TRUE(display_.errors.empty()) << display_.errors.front();
    EXPECT_EQ(display_.infos, (std::vector<std::string>{"Retrieving build 1234", "Validating build 1234 with server",
                                                        "Build 1234 is valid"}));
    EXPECT_EQ(hxtest::readFile(moduleDir() + "/1234.kite"), fixtureImage());
    EXPECT_EQ(attribute("LATEST_DOWNLOAD"), "1234.kite");
    const std::string date = attribute("LAST_DOWNLOAD_DATE");
    EXPECT_EQ(date.size(), 24u) << date;
    EXPECT_EQ(attribute("CREATED_TIME"), "Thu Dec 10 09:00:00 2026");
    const std::vector<std::string> lines = server.requestLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "GET /cgi/u?bld=1234&fw=SelectorC&no_cal=false&op=kite&sn=40F5849A& HTTP/1.1");
    EXPECT_EQ(opsOf(server), (std::vector<std::string>{"hi", "qu", "builds", "kite"}));
}

TEST_F(Download, AModuleWithoutARecordGetsOne)
{
    std::filesystem::remove_all(moduleDir());
    FakeServer fake;
    hxtest::RawResponder server(fake.handler());
    EXPECT_EQ(download(server, kSerial, "200", false), 200u);
    EXPECT_EQ(hxtest::readFile(moduleDir() + "/200.kite"), fixtureImage());
    EXPECT_EQ(attribute("LATEST_DOWNLOAD"), "200.kite");
    EXPECT_FALSE(attribute("CREATED_TIME").empty());
}

TEST_F(Download, BuildTextsConvertUpToTheFirstNonDigit)
{
    const struct {
        const char* text;
        uint32_t build;
    } cases[] = {{"12x", 12}, {" +7", 7}, {"0200", 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        FakeServer fake;
        fake.bodies["builds"] = "ok\n12;1.0.0\n7;0.9.0\n200;2.12.1\n";
        hxtest::RawResponder server(fake.handler());
        EXPECT_EQ(download(server, kSerial, c.text, false), c.build);
        EXPECT_TRUE(hxtest::pathExists(moduleDir() + "/" + std::to_string(c.build) + ".kite"));
        const auto lines = server.requestLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("?bld=" + std::to_string(c.build) + "&"), std::string::npos) << lines.back();
    }
}

TEST_F(Download, OverrideSkipsTheBuildList)
{
    FakeServer fake;
    fake.bodies.erase("builds");  // would fail the check, were it asked
    hxtest::RawResponder server(fake.handler());
    EXPECT_EQ(download(server, kSerial, "200", true), 200u);
    EXPECT_EQ(opsOf(server), (std::vector<std::string>{"hi", "qu", "kite"}));
    EXPECT_EQ(display_.infos, (std::vector<std::string>{"Retrieving build 200",
                                                        "Override specified, skipping validation of build 200"}));
}

// Each way the download ends with nothing stored: the error lines the user reads, the requests
// that were sent, and a record left exactly as it was.
struct StopCase {
    const char* name;
    uint32_t serial;
    const char* build;
    std::map<std::string, const char*> bodies;  // replaces the fake's; nullptr removes the op
    std::vector<std::string> errors;            // "%URL%" stands for the server's address
    std::vector<std::string> ops;
};

TEST_F(Download, StopsWithNothingStored)
{
    const std::string longBuild = "4294967296";
    const StopCase cases[] = {
        {"build not a number", kSerial, "abc", {}, {"Build number 'abc' must be an number"}, {}},
        {"negative build", kSerial, "-5", {}, {"Build number '-5' must be an number"}, {}},
        {"build out of range", kSerial, "4294967296", {}, {"Build number '4294967296' must be an number"}, {}},
        {"serial number 0", 0, "200", {}, {"Serial Number must be non-zero"}, {}},
        {"server refuses ping", kSerial, "", {{"hi", nullptr}}, {"Server request failed for %URL%"}, {"hi"}},
        {"no build information", kSerial, "", {{"qu", nullptr}}, {"No build information for device"}, {"hi", "qu"}},
        {"build not in the list", kSerial, "300", {}, {"No valid build 300"}, {"hi", "qu", "builds"}},
        {"build list refused", kSerial, "200", {{"builds", nullptr}}, {"No valid build 200"}, {"hi", "qu", "builds"}},
        {"status line alone", kSerial, "", {{"kite", "ok\n"}}, {"Failed to retrieve a valid KITE file"},
         {"hi", "qu", "builds", "kite"}},
        {"download refused", kSerial, "", {{"kite", nullptr}}, {"Download failed", "Failed to retrieve a valid KITE file"},
         {"hi", "qu", "builds", "kite"}},
        {"character outside base64", kSerial, "", {{"kite", "ok\nS0lU*Q==\n"}},
         {"The KITE file from the server is not valid base64"}, {"hi", "qu", "builds", "kite"}},
        {"base64 length not a multiple of four", kSerial, "", {{"kite", "ok\nS0lURQ=\n"}},
         {"The KITE file from the server is not valid base64"}, {"hi", "qu", "builds", "kite"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer fake;
        for (const auto& [op, body] : c.bodies) {
            if (body)
                fake.bodies[op] = body;
            else
                fake.bodies.erase(op);
        }
        hxtest::RawResponder server(fake.handler());
        display_ = {};
        EXPECT_EQ(download(server, c.serial, c.build, false), 0u);
        std::vector<std::string> expected = c.errors;
        for (auto& line : expected)
            if (line.find("%URL%") != std::string::npos)
                line.replace(line.find("%URL%"), 5, server.url());
        EXPECT_EQ(display_.errors, expected);
        EXPECT_EQ(opsOf(server), c.ops);
        EXPECT_TRUE(imageFiles().empty());
        EXPECT_EQ(hxtest::readFile(settingsPath()), kSettings);
    }
}

// A file that cannot be written is no download: the write's error, and the record still names
// the earlier image.
TEST_F(Download, AnImageThatCannotBeWrittenIsNotRecorded)
{
    // A directory where the image file should go: the rename over it fails, even for root.
    std::filesystem::create_directories(moduleDir() + "/200.kite");
    FakeServer fake;
    hxtest::RawResponder server(fake.handler());
    EXPECT_EQ(download(server, kSerial, "200", false), 0u);
    EXPECT_EQ(display_.errors, (std::vector<std::string>{"Failed to write file with " + std::to_string(aErrIO)}));
    EXPECT_EQ(hxtest::readFile(settingsPath()), kSettings);
    EXPECT_TRUE(std::filesystem::is_directory(moduleDir() + "/200.kite"));
}

// While the request runs the indicator advances about ten times a second, and is cleared at
// the end; the bounds allow for a loaded machine, whose slices only grow longer.
TEST_F(Download, TheActivityIndicatorAdvancesWhileTheServerIsSlow)
{
    FakeServer fake;
    fake.kiteDelay = std::chrono::milliseconds(1000);
    hxtest::RawResponder server(fake.handler());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(download(server, kSerial, "200", false), 200u);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_GE(display_.activity.size(), 2u);
    EXPECT_EQ(display_.activity.front(), std::make_pair(true, std::string("Downloading")));
    EXPECT_FALSE(display_.activity.back().first);
    size_t shown = 0;
    for (const auto& [active, label] : display_.activity) {
        EXPECT_EQ(label, "Downloading");
        shown += active ? 1 : 0;
    }
    EXPECT_EQ(shown, display_.activity.size() - 1);
    // One showing, then one advance per 100 ms slice that ended without the result.
    EXPECT_GE(shown, 4u);
    EXPECT_LE(shown, 2u + static_cast<size_t>(elapsed.count() / 100));
}

// -G as a user runs it, against the reference update server over the sample repository.
class DownloadCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto line = server_.waitForLine("listening on 127.0.0.1:");
        ASSERT_TRUE(line.has_value());
        base_ = "http://127.0.0.1:" + line->substr(line->rfind(':') + 1) + "/cgi/u";
    }
    hxtest::RunResult updater(std::vector<std::string> words)
    {
        words.insert(words.begin(), hxtest::programPath("Updater"));
        for (const char* more : {"-u", base_.c_str(), "-i", voltaris_.path().c_str()})
            words.emplace_back(more);
        return hxtest::run(words);
    }
    std::string modulePath(const std::string& name) const { return voltaris_ / ("updater/40F5849A/" + name); }

    hxtest::Process server_{{hxtest::programPath("update-server"), "--repository", hxtest::fixturePath("repository"),
                             "--address", "127.0.0.1", "--port", "0"}};
    std::string base_;
    hxtest::TempDir voltaris_;
};

TEST_F(DownloadCommand, LatestBuildIsStoredThenListedLocally)
{
    const hxtest::RunResult got = updater({"-G", "-d", "40F5849A"});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.err, "");
    for (const char* line : {"Retrieving firmware for device with serial number 40F5849A\n", "No build specified\n",
                             "Using Latest build\n", "Retrieving build 200\n", "Build 200 is valid\n"})
        EXPECT_NE(got.out.find(line), std::string::npos) << line << got.out;
    EXPECT_EQ(hxtest::readFile(modulePath("200.kite")),
              hxtest::readFile(hxtest::fixturePath("repository/images/SelectorC/200.kite")));
    EXPECT_NE(hxtest::readFile(modulePath(".settings")).find("LATEST_DOWNLOAD=200.kite\n"), std::string::npos);

    const hxtest::RunResult listed = updater({"-L", "-d", "40F5849A"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("200            \t2.12.1         \n"), std::string::npos) << listed.out;
}

TEST_F(DownloadCommand, NamedBuildWithAndWithoutOverride)
{
    const hxtest::RunResult older = updater({"-G", "-d", "40F5849A", "-b", "100", "-OVERRIDE"});
    EXPECT_EQ(older.status, 0) << older.err;
    EXPECT_NE(older.out.find("Override specified, skipping validation of build 100\n"), std::string::npos);
    EXPECT_EQ(hxtest::readFile(modulePath("100.kite")),
              hxtest::readFile(hxtest::fixturePath("repository/images/SelectorC/100.kite")));

    const hxtest::RunResult missing = updater({"-G", "-d", "40F5849A", "-b", "300"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No valid build 300\n"), std::string::npos) << missing.err;
    EXPECT_FALSE(hxtest::pathExists(modulePath("300.kite")));
    EXPECT_NE(hxtest::readFile(modulePath(".settings")).find("LATEST_DOWNLOAD=100.kite\n"), std::string::npos);
}

TEST_F(DownloadCommand, UnknownModuleAndDeadServerFail)
{
    const hxtest::RunResult unknown = updater({"-G", "-d", "00000001"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("No build information for device\n"), std::string::npos) << unknown.err;

    const int port = std::stoi(base_.substr(base_.rfind(':') + 1));
    ASSERT_EQ(server_.stop(), 0);
    const std::string dead = "http://127.0.0.1:" + std::to_string(port) + "/cgi/u";
    const hxtest::RunResult gone = hxtest::run({hxtest::programPath("Updater"), "-G", "-d", "40F5849A", "-u", dead,
                                                "-i", voltaris_.path()});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("Server request failed for " + dead + "\n"), std::string::npos) << gone.err;
}

}  // namespace
