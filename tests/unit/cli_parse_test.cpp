// The command-line reader: the option table's rows, matching and skipping rules, rejections.
#include <gtest/gtest.h>

#include "RecordingDisplay.h"

#include <string>
#include <vector>

#include "UpdaterSettings.h"

namespace {

using hxtest::RecordingDisplay;

struct Parsed {
    int result;
    UpdaterSettings settings;
    std::vector<std::string> errors;
};

Parsed parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "/opt/voltaris/bin/Updater");
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    RecordingDisplay display;
    Parsed parsed{};
    parsed.result = ParseCommandLine(display, static_cast<int>(argv.size()), argv.data(), parsed.settings);
    parsed.errors = display.errors;
    EXPECT_TRUE(display.infos.empty());
    return parsed;
}

TEST(CommandLine, DefaultsBeforeAnyWord)
{
    const Parsed parsed = parse({});
    const UpdaterSettings& s = parsed.settings;
    EXPECT_EQ(parsed.result, 0);
    EXPECT_EQ(s.commands, 0u);
    EXPECT_FALSE(s.hasCommand());
    EXPECT_EQ(s.serialNumber, 0u);
    EXPECT_EQ(s.routerSerial, 0u);
    EXPECT_EQ(s.transport, 1);
    EXPECT_FALSE(s.transportGiven);
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.build, "");
    EXPECT_EQ(s.serverAddress, "http://update.voltaris.com/cgi/u");
    EXPECT_EQ(s.programName, "Updater");
    EXPECT_EQ(s.logFile, "Updater.log");
    EXPECT_TRUE(s.useUEIBytes);
    EXPECT_FALSE(s.override);
    EXPECT_FALSE(s.debugMaskGiven);
    EXPECT_FALSE(s.helpRequested);
}

TEST(CommandLine, ProgramNameIsTheLastPathComponent)
{
    for (const auto& [word, name] : std::vector<std::pair<const char*, const char*>>{
             {"Updater", "Updater"}, {"C:\\tools\\Upd.exe", "Upd.exe"}, {"./a/b/Up", "Up"}}) {
        const char* argv[] = {word};
        RecordingDisplay display;
        UpdaterSettings settings;
        ParseCommandLine(display, 1, argv, settings);
        EXPECT_EQ(settings.programName, name) << word;
    }
}

struct CommandCase {
    const char* name;
    std::vector<std::string> words;
    uint32_t commands;
};

class CommandBits : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandBits, SetsTheirBits)
{
    const Parsed parsed = parse(GetParam().words);
    EXPECT_EQ(parsed.result, 0);
    EXPECT_EQ(parsed.settings.commands, GetParam().commands);
    EXPECT_TRUE(parsed.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandBits,
    testing::Values(CommandCase{"D", {"-D"}, 0x1}, CommandCase{"U", {"-U"}, 0x2},
                    CommandCase{"B", {"-B"}, 0x4}, CommandCase{"G", {"-G"}, 0x8},
                    CommandCase{"I", {"-I"}, 0x10}, CommandCase{"C", {"-C"}, 0x20},
                    CommandCase{"N", {"-N"}, 0x40}, CommandCase{"ZTakesAValue", {"-Z", "7"}, 0x80},
                    CommandCase{"L", {"-L"}, 0x200},
                    CommandCase{"Accumulate", {"-G", "-U", "-L"}, 0x20A},
                    CommandCase{"CaseMatters", {"-g", "-u", "-overRIDE"}, 0},
                    CommandCase{"NonOptionWordsIgnored", {"D", "stray", "-D"}, 0x1},
                    CommandCase{"UnknownAndJoinedIgnored", {"-Q", "-d1234", "-Dx", "-"}, 0},
                    CommandCase{"ValueToFlagWithEqualsSkipped", {"-D=1", "-U"}, 0x2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, OverridePrefixesAndTheirLimits)
{
    for (const char* word : {"-O", "-OV", "-OVER", "-OVERRID", "-OVERRIDE"})
        EXPECT_TRUE(parse({word}).settings.override) << word;
    for (const char* word : {"-OVERRIDEX", "-o", "-OVERRIDE=1"})
        EXPECT_FALSE(parse({word}).settings.override) << word;
    EXPECT_EQ(parse({"-O"}).settings.commands, 0u) << "override is no command";
}

TEST(CommandLine, HelpWordsStopReadingAndForgiveEarlierRejections)
{
    for (const char* word : {"-h", "-H", "--help", "--h", "--hel"}) {
        const Parsed parsed = parse({"-d", "zz", word, "-D", "-t", "BAD"});
        EXPECT_EQ(parsed.result, 0) << word;
        EXPECT_TRUE(parsed.settings.helpRequested) << word;
        EXPECT_EQ(parsed.settings.commands, 0x80000000u) << word << ": -D after help is not read";
        EXPECT_EQ(parsed.errors.size(), 1u) << word << ": only the rejection before help";
    }
    EXPECT_FALSE(parse({"--helpme"}).settings.helpRequested);
}

struct SerialCase {
    const char* name;
    std::string value;
    uint32_t expected;
    const char* message;  // nullptr: accepted
};

class SerialNumbers : public testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumbers, ForDeviceAndRouter)
{
    const SerialCase& c = GetParam();
    const Parsed device = parse({"-d", c.value});
    const Parsed router = parse({"-r", c.value});
    EXPECT_EQ(device.settings.serialNumber, c.expected);
    EXPECT_EQ(router.settings.routerSerial, c.expected);
    if (c.message == nullptr) {
        EXPECT_EQ(device.result, 0);
        EXPECT_TRUE(device.errors.empty());
        EXPECT_TRUE(router.errors.empty());
    } else {
        EXPECT_EQ(device.result, 1);
        EXPECT_EQ(router.result, 1);
        ASSERT_EQ(device.errors.size(), 1u);
        ASSERT_EQ(router.errors.size(), 1u);
        EXPECT_EQ(device.errors[0],
                  std::string("Invalid serial number obtained from argument [") + c.message + "]");
        EXPECT_EQ(router.errors[0],
                  std::string("Invalid router serial number obtained from argument [") + c.message + "]");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialNumbers,
    testing::Values(SerialCase{"Hex", "40F5849A", 0x40F5849A, nullptr},
                    SerialCase{"LowerCase", "d272031d", 0xD272031D, nullptr},
                    SerialCase{"Prefix0x", "0x40F5849A", 0x40F5849A, nullptr},
                    SerialCase{"Prefix0X", "0X1a", 0x1A, nullptr},
                    SerialCase{"WiderThan32Bits", "123456789", 0xFFFFFFFF, nullptr},
                    SerialCase{"Zero", "0", 0, "0"},
                    SerialCase{"NotHex", "12G4", 0, "12G4"},
                    SerialCase{"MessageShowsValueAfterPrefix", "0x00", 0, "00"},
                    SerialCase{"EmptyByEquals", "", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, EqualsFormGivesTheValue)
{
    const Parsed parsed = parse({"-d=40F5849A", "-b=12", "-u=http://h:8/cgi/u", "-s=/dev/ttyS0"});
    EXPECT_EQ(parsed.settings.serialNumber, 0x40F5849Au);
    EXPECT_EQ(parsed.settings.build, "12");
    EXPECT_EQ(parsed.settings.serverAddress, "http://h:8/cgi/u");
    EXPECT_EQ(parsed.settings.serialPort, "/dev/ttyS0");
}

TEST(CommandLine, MissingValueIsSkippedAndTheNextOptionStillRead)
{
    Parsed parsed = parse({"-G", "-d"});
    EXPECT_EQ(parsed.result, 0);
    EXPECT_EQ(parsed.settings.serialNumber, 0u);
    EXPECT_EQ(parsed.settings.commands, 0x8u);

    parsed = parse({"-d", "-G", "-b", "-U"});
    EXPECT_EQ(parsed.settings.commands, 0xAu) << "the option words after -d and -b are read";
    EXPECT_EQ(parsed.settings.build, "");
    EXPECT_TRUE(parsed.errors.empty());

    parsed = parse({"-s", "/dev/ttyUSB0", "-D"});
    EXPECT_EQ(parsed.settings.serialPort, "/dev/ttyUSB0") << "a '/' word is a value on POSIX";
    EXPECT_EQ(parsed.settings.commands, 0x1u);

    parsed = parse({"-l", "D", "-f", "x.kite"});
    EXPECT_EQ(parsed.settings.historyMessage, "D") << "a value word is consumed, not read";
    EXPECT_EQ(parsed.settings.commands, 0u);
}

TEST(CommandLine, SlashPrefixIsNotAnOptionOnPosix)
{
    EXPECT_EQ(parse({"/D", "/h"}).settings.commands, 0u);
}

struct TransportCase {
    std::string value;
    int transport;
    bool rejected;
};

TEST(CommandLine, TransportValues)
{
    const TransportCase cases[] = {
        {"USB", 1, false},     {"USB2", 1, false}, {"TCP", 2, false},  {"TCPIP", 2, false},
        {"RECOVER", 255, false}, {"usb", 0, true},  {"FOO", 0, true},  {"REC", 0, true},
    };
    for (const TransportCase& c : cases) {
        const Parsed parsed = parse({"-t", c.value});
        EXPECT_EQ(parsed.settings.transport, c.transport) << c.value;
        EXPECT_TRUE(parsed.settings.transportGiven) << c.value;
        EXPECT_EQ(parsed.result, c.rejected ? 1 : 0) << c.value;
        if (c.rejected) {
            ASSERT_EQ(parsed.errors.size(), 1u);
            EXPECT_EQ(parsed.errors[0], "Invalid transport type:[" + c.value +
                                            "]\nMust be one of the following: USB, TCPIP, RECOVER");
        }
    }
}

TEST(CommandLine, BuildAndBaudValues)
{
    const std::pair<std::string, std::string> builds[] = {
        {"007", "7"}, {"99528558", "99528558"}, {"abc", "0"}, {"12a", "0"},
        {"99999999999", "4294967295"}, {"0", "0"}};
    for (const auto& [value, text] : builds)
        EXPECT_EQ(parse({"-b", value}).settings.build, text) << value;

    const std::pair<std::string, uint32_t> bauds[] = {{"9600", 9600}, {"fast", 0}, {"96k", 0}};
    for (const auto& [value, baud] : bauds)
        EXPECT_EQ(parse({"-o", value}).settings.baudRate, baud) << value;
}

TEST(CommandLine, UeiBytesValue)
{
    const std::pair<const char*, bool> cases[] = {
        {"1", true}, {"true", true}, {"10", true}, {"trueish", true},
        {"0", false}, {"TRUE", false}, {"yes", false}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(parse({"-m", value}).settings.useUEIBytes, expected) << value;
}

TEST(CommandLine, LaterValuesReplaceEarlierOnes)
{
    const Parsed parsed = parse({"-d", "1", "-d", "2", "-u", "a", "-u", "b", "-i", "x", "-i", "y"});
    EXPECT_EQ(parsed.settings.serialNumber, 2u);
    EXPECT_EQ(parsed.settings.serverAddress, "b");
    EXPECT_EQ(parsed.settings.storeBase, "y");
}

TEST(CommandLine, StoredOnlyOptions)
{
    const Parsed parsed = parse({"-e", "-n", "-k", "my.log", "-l", "fixed it", "-f", "a.kite"});
    EXPECT_TRUE(parsed.settings.echo);
    EXPECT_TRUE(parsed.settings.optionN);
    EXPECT_EQ(parsed.settings.logFile, "my.log");
    EXPECT_EQ(parsed.settings.historyMessage, "fixed it");
    EXPECT_EQ(parsed.settings.kiteFile, "a.kite");
}

TEST(CommandLine, UnhandledCommandIsRejectedAndReadingGoesOn)
{
    const Parsed parsed = parse({"-Y", "-d", "12G4", "-D"});
    EXPECT_EQ(parsed.result, 1);
    ASSERT_EQ(parsed.errors.size(), 2u);
    EXPECT_EQ(parsed.errors[0], "Unhandled command: [-Y]");
    EXPECT_EQ(parsed.errors[1], "Invalid serial number obtained from argument [12G4]");
    EXPECT_EQ(parsed.settings.commands, 0x1u);
}

TEST(CommandLine, DebugMaskValues)
{
    struct MaskCase {
        std::string value;
        uint32_t mask;
        const char* rest;  // nullptr: applied without a message
    };
    const MaskCase cases[] = {
        {"0x1F", 0x1F, nullptr}, {"0X3000", 0x3000, nullptr}, {"16", 16, nullptr},
        {"1F", 1, "F"}, {"0x1G", 1, "G"}, {"zz", 0, "zz"}};
    for (const MaskCase& c : cases) {
        const Parsed parsed = parse({"-X", c.value});
        EXPECT_EQ(parsed.result, 0) << c.value << ": a bad mask is no rejection";
        EXPECT_TRUE(parsed.settings.debugMaskGiven);
        EXPECT_EQ(parsed.settings.debugMask, c.mask) << c.value;
        if (c.rest == nullptr) {
            EXPECT_TRUE(parsed.errors.empty()) << c.value;
        } else {
            ASSERT_EQ(parsed.errors.size(), 1u) << c.value;
            EXPECT_EQ(parsed.errors[0], std::string("Invalid format for \"-X\" parameter, "
                                                    "unprocessed characters [") + c.rest + "]");
        }
    }
}

}  // namespace
