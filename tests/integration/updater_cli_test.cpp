// The Updater program as a user runs it: usage texts, the store root, the run order and the
// exit statuses. Every run has HOME pointed at a fresh temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"

namespace {

const std::string kShortUsage = R"(
Application Usage:
Updater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]
    [-d serial_num]
    [-t transport] [-r router_serial]
    [-s serial_port] [-o baud_rate]

  Halcyonix Update and Maintenance Application
    -H -h or --help for full usage information.

)";

const std::string kParametersAndCommands = R"(  Parameters to commands:
     -i <voltaris_directory>  - The Voltaris directory used for storage of
                                firmware files. [Default: ~/.voltaris ].
     -b <build number>        - Build version of the firmware to transfer.
                                [Default: latest version available].
     -d <device>              - Device serial number of the device to access.
     -t <transport type>      - communications method [USB,TCP,RECOVER].
     -f <kite file>           - Firmware file to be transferred to device.
     -r <router serial>       - indirect connection through router device
     -s <serial port>         - name of serial port to use for recovery
     -o <baud rate>           - baud rate for serial port (2400, 4800, 9600,
                                19200, 38400, 57600, 115200, 230400)
  Commands:
     -B                       - list the Builds available for given device.

     -L                       - list the local Builds available for given device.

     -D                       - Discover devices that are currently connected.

     -G                       - Get build file from the Voltaris server and
                                store on local machine for download to device.
                                Must specify a specific device with the -d option.
                                Default is to obtain the latest build for the
                                given device, override with -b.

     -U                       - Update the firmware on device specified.
                                Must specify a specific device with the -d option.
                                Default is to download the latest build for the
                                given device, override with -b
                                or specify specific KITE file using -f.
     -H or -h                 - Display extended usage information.

)";

const std::string kExtended = R"(  Extended Parameters:
     -e                       - echoing of bytes enabled during recovery.
     -m                       - Attemps to use UEIBytes for faster loading
     -l 'log message'         - message to place in device history log
     -k <filename>            - log messages written into given filename
                                Default:[APP.log]
     -u <host:port>           - The hostname and port of the update server
                                [Default: update.voltaris.com port 80]
  Extended Commands:
     -I                       - View stored device information.
                                Must be used with either the discovery command -D
                                or a specific device given with -d.

     -OVERRIDE                - Override the model checks for KITE firmware files.
                                This option should only be used when authorized by
                                Voltaris development engineers.

     -N                       - Get fingerprint from a device, requires -s

     -X <BIT_MASK>            - Bitmask for Logging
                                DEBUG_Updater       0x00000001
                                DEBUG_History       0x00000002
                                DEBUG_Attributes    0x00000004
                                DEBUG_KiteFile      0x00000008
                                DEBUG_Network       0x00000010
                                DEBUG_ServerComm    0x00000020

                                DEBUG_Network       0x00000100
                                DEBUG_Network_SR    0x00000200
                                DEBUG_Network_FIRM  0x00000400

                                DEBUG_NXPSerial     0x00001000
                                DEBUG_NXPSerial_E   0x00002000
                                DEBUG_NXPSerial_SR  0x00004000

                                DEBUG_APP           0x00010000

                                DEBUG_iMXSerial     0x10000000

     -C                       - Check the given KITEFILE

)";

const std::string kSamples = R"( Sample usage:

  -D                           Discover all devices connected by either USB or TCPIP.
                               Records the device information into the settings for that device.

  -D -t USB                    Discover all the devices connected by USB. Records the
                               device information into the settings for that device.

  -D -t USB -d 0F5849A         Discover settings of the specific device (serial number 0x40F5849A)

  -G -d 40F5849A               Get the latest firmware for the given device.
                               Downloads the firmware file into the updater specific device directory.

  -U -d 40F5849A               Update the firmware on the specific device.
                               Without other options, this command will try to locate
                               the latest firmware version to be used for updating the device.

  -G -d 40F5849A -b 99528558   Get the specified build's firmware for the given device.
                               Downloads the firmware file into the updater's specific
                               device directory with the build number as the filename.

  -G -U -d 40F5849A            Get the latest firmware for the given device.
                               Downloads the firmware file into the updater specific
                               device directory. After download, update the firmware
                               using the latest release.

  -U -t RECOVER -s /dev/serial Update the firmware as described above, but uses the serial interface
                               in communicating with the device to install the latest firmware.

 Sample usage for network discovery and updates:
  -D -r D272031D               Discover all devices connected to the I2C Halcyonix network
                               of the given routing device D272031D.

  -G -U -d 2181F0EE -r D272031D
                               Get and Update to the latest firmware for device 2181F0EE
                               indirectly through routing device D272031D.

)";

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

class UpdaterProgram : public testing::Test {
protected:
    hxtest::RunResult updater(std::vector<std::string> words,
                              std::optional<std::string> home = std::string())
    {
        words.insert(words.begin(), hxtest::programPath("Updater"));
        hxtest::RunOptions options;
        options.env["HOME"] = home && home->empty() ? home_.path() : home;
        return hxtest::run(words, options);
    }
    std::string storeRoot() const { return home_.path() + "/.voltaris/updater"; }

    hxtest::TempDir home_;
};

// The first information line: "Updater (Version: 2.12.1 Mmm dd yyyy)".
void expectBanner(const std::string& out)
{
    const std::string head = "Updater (Version: 2.12.1 ";
    ASSERT_EQ(out.compare(0, head.size(), head), 0) << out;
    const std::string date = out.substr(head.size(), 11);
    EXPECT_NE(std::find(std::begin(kMonths), std::end(kMonths), date.substr(0, 3)), std::end(kMonths)) << date;
    EXPECT_TRUE(isdigit(date[4]) && isdigit(date[5])) << "two-digit day: " << date;
    EXPECT_EQ(date[3], ' ');
    EXPECT_EQ(date[6], ' ');
    EXPECT_EQ(out.substr(head.size() + 11, 2), ")\n");
}

TEST_F(UpdaterProgram, NoArgumentsShowTheShortUsage)
{
    const hxtest::RunResult result = updater({});
    EXPECT_EQ(result.status, 0);
    expectBanner(result.out);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2) << "banner and notice";
    const std::string year = result.out.substr(result.out.find(')') - 4, 4);
    EXPECT_NE(result.out.find("-" + year + " Voltaris"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, kShortUsage);
    EXPECT_FALSE(hxtest::pathExists(home_.path() + "/.voltaris")) << "no store without a command";
}

TEST_F(UpdaterProgram, HelpTexts)
{
    struct HelpCase {
        std::vector<std::string> words;
        std::string err;
    };
    const std::string full = kShortUsage + kParametersAndCommands + kSamples;
    const std::string extended = kShortUsage + kParametersAndCommands + kExtended + kSamples;
    const HelpCase cases[] = {
        {{"-h"}, full},
        {{"-H"}, full},
        {{"--help"}, full},
        {{"--hel"}, full},
        {{"-D", "-h", "-d", "40F5849A"}, full},
        {{"-X", "1", "-h"}, extended},
        {{"-h", "-X", "1"}, full},
        {{"-t", "FOO", "-h"},
         "Invalid transport type:[FOO]\nMust be one of the following: USB, TCPIP, RECOVER\n" + full},
        {{"-X", "1"}, kShortUsage},  // a mask is no command
    };
    for (const HelpCase& c : cases) {
        const hxtest::RunResult result = updater(c.words);
        EXPECT_EQ(result.status, 0) << testing::PrintToString(c.words);
        EXPECT_EQ(result.err, c.err) << testing::PrintToString(c.words);
        expectBanner(result.out);
    }
}

TEST_F(UpdaterProgram, RejectionsComeBeforeTheBannerAndEndWithTheShortUsage)
{
    const hxtest::RunResult result = updater({"-Y", "-d", "12G4", "-D"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Unhandled command: [-Y]\n"
                          "Invalid serial number obtained from argument [12G4]\n" + kShortUsage);
    expectBanner(result.out);
    EXPECT_NE(result.out.find("Voltaris"), std::string::npos) << "the notice line";
    EXPECT_FALSE(hxtest::pathExists(home_.path() + "/.voltaris"));
}

struct StatusCase {
    std::vector<std::string> words;
    int status;
    std::string errContains;     // empty: nothing required
    std::string errLacks;        // empty: nothing forbidden
    std::string outContains;
};

TEST_F(UpdaterProgram, ExitStatusesAndRunOrder)
{
    static constexpr const char* kNoServer = "http://127.0.0.1:1/cgi/u";
    const StatusCase cases[] = {
        {{"-G", "-d"}, 1, "-G must specify a specific device via -d\n--help for usage information\n", "", ""},
        {{"-U"}, 1, "Must specify the specific device to be updated\n", "", ""},
        {{"-B"}, 1, "Error must supply a serial number for the List Builds command\n" + kShortUsage, "", ""},
        {{"-L"}, 1, "Error must supply a serial number for the List Local Builds command\n" + kShortUsage, "", ""},
        {{"-N"}, 1, "Must specify the serial port used for connecting\n", "", ""},
        {{"-N", "-G"}, 1, "Must specify the serial port", "-G must", ""},
        {{"-I", "-d", "40F5849A"}, 0, "", "", ""},
        {{"-C"}, 1, "-C must name the kite file to check with -f\n", "", ""},
        {{"-Z", "1"}, 0, "", "", ""},
        {{"-Q", "-d1234", "-I"}, 0, "", "", ""},
        // Nothing listens on port 1 of the loopback: a download fails; the run around it stands.
        {{"-G", "-d", "40F5849A", "-u", kNoServer}, 1, "Server request failed for " + std::string(kNoServer), "",
         "Retrieving firmware for device with serial number 40F5849A\nNo build specified\nUsing Latest build\n"},
        {{"-G", "-d", "40F5849A", "-b", "007", "-u", kNoServer}, 1, "", "", "Retrieving firmware build 7\n"},
        // Commands whose workflows are not built yet fail as such.
        {{"-U", "-d", "40F5849A"}, 1, "(-U) is not built yet", "", ""},
        // A failed download does not stop the update that follows it.
        {{"-G", "-U", "-d", "40F5849A", "-u", kNoServer}, 1, "(-U) is not built yet", "", "Using Latest build\n"},
        {{"-U", "-t", "RECOVER", "-s", "/dev/null"}, 1, "RECOVER) is not built yet", "specific device", ""},
        {{"-N", "-s", "/dev/null"}, 1, "Got no response from chip", "", ""},
        {{"-D"}, 0, "", "", "Searching for Halcyonix devices\n"},
        {{"-D", "-r", "D272031D"}, 0, "", "", "Searching for Halcyonix Network devices connected to D272031D\n"},
        {{"-D", "-U", "-d", "40F5849A"}, 0, "", "(-U)", "Searching for Halcyonix devices\n"},
        // The server list fails, the local one is not run.
        {{"-B", "-L", "-d", "40F5849A", "-u", kNoServer}, 0,
         "Server request failed for " + std::string(kNoServer) + "\n", "", "No builds found for device [40F5849A]\n"},
        {{"-L", "-d", "40F5849A"}, 0, "", "", "No builds found for device [40F5849A]\n"},
        // A later command's success does not hide the failed download before it.
        {{"-G", "-D", "-d", "40F5849A", "-u", kNoServer}, 1, "Server request failed", "",
         "Searching for Halcyonix devices\n"},
    };
    for (const StatusCase& c : cases) {
        const std::string words = testing::PrintToString(c.words);
        const hxtest::RunResult result = updater(c.words);
        EXPECT_EQ(result.status, c.status) << words << "\n" << result.err;
        if (!c.errContains.empty()) {
            EXPECT_NE(result.err.find(c.errContains), std::string::npos) << words << "\n" << result.err;
        }
        if (!c.errLacks.empty()) {
            EXPECT_EQ(result.err.find(c.errLacks), std::string::npos) << words << "\n" << result.err;
        }
        if (!c.outContains.empty()) {
            EXPECT_NE(result.out.find(c.outContains), std::string::npos) << words << "\n" << result.out;
        }
    }
}

TEST_F(UpdaterProgram, StoreRootUnderHome)
{
    const hxtest::RunResult result = updater({"-I", "-d", "40F5849A"});
    EXPECT_EQ(result.status, 0) << result.err;
    struct stat info{};
    ASSERT_EQ(stat(storeRoot().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(result.err, "");
}

TEST_F(UpdaterProgram, StoreRootUnderTheGivenDirectory)
{
    const std::string base = home_ / "elsewhere/deeper";
    const hxtest::RunResult result = updater({"-I", "-i", base});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(hxtest::pathExists(base + "/updater"));
    EXPECT_FALSE(hxtest::pathExists(home_.path() + "/.voltaris"));
}

TEST_F(UpdaterProgram, StoreRootThatCannotBeCreated)
{
    const std::string file = home_ / "plain-file";
    hxtest::writeFile(file, "not a directory");
    const hxtest::RunResult result = updater({"-I", "-i", file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Could not find updater directory at " + file + "/updater\n");
    EXPECT_EQ(hxtest::readFile(file), "not a directory");

    const std::string tooLong = home_ / std::string(3000, 'x');
    EXPECT_EQ(updater({"-I", "-i", tooLong}).status, 1);
}

TEST_F(UpdaterProgram, WithoutHomeThePasswordDatabaseNamesTheHome)
{
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    const std::string pwHome = entry->pw_dir;
    // Only where the run leaves no trace: the store must exist there already, or the home
    // must be one we may tidy up after.
    const std::string store = pwHome + "/.voltaris/updater";
    const bool hadVoltaris = hxtest::pathExists(pwHome + "/.voltaris");
    if (access(pwHome.c_str(), W_OK) != 0 && !hxtest::pathExists(store))
        GTEST_SKIP() << "the password database's home is not writable here";
    const hxtest::RunResult result = updater({"-I"}, std::nullopt);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(hxtest::pathExists(store));
    EXPECT_FALSE(hxtest::pathExists(storeRoot())) << "HOME was not set";
    if (!hadVoltaris)
        hxtest::removeTree(pwHome + "/.voltaris");
}

TEST_F(UpdaterProgram, DiagnosticsFollowTheMask)
{
    hxtest::RunResult result = updater({"-X", "0x10000", "-I", "-d", "0x40F5849A"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("\nApplication parameters:[Updater]\n\t[" + hxtest::programPath("Updater") +
                              "]\n\t[-X]\n\t[0x10000]\n\t[-I]\n\t[-d]\n\t[0x40F5849A]\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("Discarding"), std::string::npos) << "DEBUG_Updater is not set";

    result = updater({"-X", "1", "-I", "-d", "0x40F5849A"});
    EXPECT_NE(result.err.find("Discarding '0x' serial number prefix\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("Application parameters"), std::string::npos);

    result = updater({"-X", "1F", "-I", "-d", "0x40F5849A"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Invalid format for \"-X\" parameter, unprocessed characters [F]\n")
        << "the mask was not applied";
}

}  // namespace
