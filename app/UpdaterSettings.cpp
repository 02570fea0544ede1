#include "UpdaterSettings.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string_view>

const char* const kDefaultServerAddress = "http://update.voltaris.com/cgi/u";

namespace {

constexpr const char* kProgram = "Updater";
constexpr const char* kVersion = "2.12.1";

enum class Kind { Command, Help, Flag, Valued };

struct OptionEntry {
    std::string_view word;
    Kind kind;
};

// Read in this order; matching is case-sensitive.
constexpr OptionEntry kOptions[] = {
    {"-B", Kind::Command}, {"-L", Kind::Command}, {"-D", Kind::Command},
    {"-G", Kind::Command}, {"-I", Kind::Command}, {"-U", Kind::Command},
    {"-OVERRIDE", Kind::Command}, {"-N", Kind::Command}, {"-Y", Kind::Command},
    {"-C", Kind::Command},
    {"-h", Kind::Help}, {"-H", Kind::Help},
    {"-n", Kind::Flag},
    {"-X", Kind::Valued}, {"-Z", Kind::Valued}, {"-m", Kind::Valued}, {"-i", Kind::Valued},
    {"-b", Kind::Valued}, {"-d", Kind::Valued}, {"-t", Kind::Valued}, {"-f", Kind::Valued},
    {"-r", Kind::Valued}, {"-s", Kind::Valued}, {"-o", Kind::Valued},
    {"-e", Kind::Flag},
    {"-l", Kind::Valued}, {"-k", Kind::Valued}, {"-u", Kind::Valued},
    {"--help", Kind::Help},
};

bool startsWith(std::string_view text, std::string_view head)
{
    return text.substr(0, head.size()) == head;
}

// An exact match, or a leading part of exactly one multi-character entry ("-O" for
// -OVERRIDE); single-letter entries match only exactly.
const OptionEntry* findOption(std::string_view word)
{
    const OptionEntry* candidate = nullptr;
    int candidates = 0;
    for (const OptionEntry& entry : kOptions) {
        if (entry.word == word)
            return &entry;
        if (word.size() < entry.word.size() && startsWith(entry.word, word)) {
            candidate = &entry;
            ++candidates;
        }
    }
    return candidates == 1 ? candidate : nullptr;
}

bool allOf(std::string_view text, const char* alphabet)
{
    return text.find_first_not_of(alphabet) == std::string_view::npos;
}

// Digits in base 10 or 16 (already checked), saturating at the 32-bit maximum.
uint32_t saturatingNumber(std::string_view digits, int base)
{
    uint64_t value = 0;
    for (char c : digits) {
        const int digit = (c >= '0' && c <= '9') ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * base + digit;
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

std::string_view dropHexPrefix(std::string_view value)
{
    return (startsWith(value, "0x") || startsWith(value, "0X")) ? value.substr(2) : value;
}

// 0 means the value is unusable.
uint32_t readSerialNumber(std::string_view value)
{
    return allOf(value, "0123456789ABCDEFabcdef") ? saturatingNumber(value, 16) : 0;
}

class CommandLineReader {
public:
    CommandLineReader(UpdaterDisplayInterface& display, UpdaterSettings& settings)
        : display_(display), settings_(settings)
    {
    }

    // False when reading must stop (a help word).
    bool handle(const OptionEntry& entry, const std::string& value);
    int result() const { return result_; }

private:
    void reject(const char* format, const std::string& value)
    {
        displayPrintf(display_, 1, format, value.c_str());
        result_ = 1;
    }
    void setCommand(std::string_view word);
    void setSerial(uint32_t& field, const std::string& value, const char* prefixNote,
                   const char* rejection);
    void setTransport(const std::string& value);
    void setDebugMask(std::string_view word, const std::string& value);
    void setValue(char letter, const std::string& value);

    UpdaterDisplayInterface& display_;
    UpdaterSettings& settings_;
    int result_ = 0;
};

void CommandLineReader::setCommand(std::string_view word)
{
    static constexpr struct {
        std::string_view word;
        uint32_t bit;
    } kBits[] = {{"-B", CMD_BuildsServer}, {"-L", CMD_BuildsLocal}, {"-D", CMD_Discover},
                 {"-G", CMD_Get}, {"-I", CMD_Info}, {"-U", CMD_Update},
                 {"-N", CMD_Fingerprint}, {"-C", CMD_Check}};
    for (const auto& command : kBits)
        if (command.word == word)
            settings_.commands |= command.bit;
}

void CommandLineReader::setSerial(uint32_t& field, const std::string& value,
                                  const char* prefixNote, const char* rejection)
{
    const std::string_view digits = dropHexPrefix(value);
    if (digits.size() != value.size())
        debugPrintf(DEBUG_Updater, "%s", prefixNote);
    field = readSerialNumber(digits);
    if (field == 0)
        reject(rejection, std::string(digits));
}

void CommandLineReader::setTransport(const std::string& value)
{
    settings_.transportGiven = true;
    if (startsWith(value, "USB"))
        settings_.transport = TRANSPORT_USB;
    else if (startsWith(value, "TCP"))
        settings_.transport = TRANSPORT_TCPIP;
    else if (startsWith(value, "RECOVER"))
        settings_.transport = TRANSPORT_Recover;
    else {
        settings_.transport = TRANSPORT_Invalid;
        reject("Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
               value);
    }
}

void CommandLineReader::setDebugMask(std::string_view word, const std::string& value)
{
    settings_.debugMaskGiven = true;
    const bool hex = startsWith(value, "0x") || startsWith(value, "0X");
    const std::string_view digits = hex ? std::string_view(value).substr(2) : value;
    const size_t end = std::min(digits.find_first_not_of(hex ? "0123456789ABCDEFabcdef"
                                                              : "0123456789"),
                                digits.size());
    settings_.debugMask = saturatingNumber(digits.substr(0, end), hex ? 16 : 10);
    if (end < digits.size()) {
        // Reported, but not a rejection: the run goes on without this mask.
        displayPrintf(display_, 1, "Invalid format for \"%.*s\" parameter, unprocessed characters [%.*s]",
                      static_cast<int>(word.size()), word.data(),
                      static_cast<int>(digits.size() - end), digits.data() + end);
        return;
    }
    debugAddMask(settings_.debugMask);
}

void CommandLineReader::setValue(char letter, const std::string& value)
{
    switch (letter) {
    case 'Z': settings_.commands |= CMD_Z; break;
    case 'd':
        setSerial(settings_.serialNumber, value, "Discarding '0x' serial number prefix\n",
                  "Invalid serial number obtained from argument [%s]");
        break;
    case 'r':
        setSerial(settings_.routerSerial, value, "Discarding '0x' router serial number prefix\n",
                  "Invalid router serial number obtained from argument [%s]");
        break;
    case 't': setTransport(value); break;
    case 'b':
        settings_.build = allOf(value, "0123456789") ? std::to_string(saturatingNumber(value, 10)) : "0";
        break;
    case 'o': settings_.baudRate = allOf(value, "0123456789") ? saturatingNumber(value, 10) : 0; break;
    case 'X': setDebugMask("-X", value); break;
    case 'm': settings_.useUEIBytes = startsWith(value, "1") || startsWith(value, "true"); break;
    case 'f': settings_.kiteFile = value; break;
    case 'i': settings_.storeBase = value; break;
    case 'k': settings_.logFile = value; break;
    case 'l': settings_.historyMessage = value; break;
    case 's': settings_.serialPort = value; break;
    case 'u': settings_.serverAddress = value; break;
    default: break;
    }
}

bool CommandLineReader::handle(const OptionEntry& entry, const std::string& value)
{
    switch (entry.kind) {
    case Kind::Help:
        settings_.commands |= CMD_Help;
        settings_.helpRequested = true;
        return false;
    case Kind::Command:
        if (entry.word == "-OVERRIDE")
            settings_.override = true;
        else if (entry.word == "-Y")
            reject("Unhandled command: [%s]", std::string(entry.word));
        else
            setCommand(entry.word);
        return true;
    case Kind::Flag:
        if (entry.word == "-e")
            settings_.echo = true;
        else
            settings_.optionN = true;
        return true;
    case Kind::Valued:
        setValue(entry.word[1], value);
        return true;
    }
    return true;
}

std::string lastPathComponent(const char* path)
{
    const std::string word = path != nullptr ? path : "";
    const size_t cut = word.find_last_of("\\/");
    return cut == std::string::npos ? word : word.substr(cut + 1);
}

}  // namespace

int ParseCommandLine(UpdaterDisplayInterface& display, int argc, const char* const argv[],
                     UpdaterSettings& settings)
{
    settings = UpdaterSettings{};
    settings.programName = lastPathComponent(argc > 0 ? argv[0] : nullptr);
    CommandLineReader reader(display, settings);

    for (int index = 1; index < argc; ++index) {
        const std::string_view word = argv[index];
        if (!startsWith(word, "-"))
            continue;
        const size_t equals = word.find('=');
        const OptionEntry* entry = findOption(word.substr(0, equals));
        if (entry == nullptr)
            continue;
        const bool takesValue = entry->kind == Kind::Valued;
        std::string value;
        if (equals != std::string_view::npos) {
            if (!takesValue)
                continue;
            value = std::string(word.substr(equals + 1));
        } else if (takesValue) {
            if (index + 1 >= argc || startsWith(argv[index + 1], "-"))
                continue;
            value = argv[++index];
        }
        if (!reader.handle(*entry, value))
            return 0;
    }

    debugPrintf(DEBUG_APP, "\nApplication parameters:[%s]\n", settings.programName.c_str());
    for (int index = 0; index < argc; ++index)
        debugPrintf(DEBUG_APP, "\t[%s]\n", argv[index]);
    return reader.result();
}

// ---- usage texts ----

namespace {

// Five blanks, the entry padded to 25, "- " and the first line; further lines under it.
void addEntry(std::string& text, const char* entry, std::initializer_list<const char*> lines)
{
    char head[64];
    snprintf(head, sizeof head, "     %-25s- ", entry);
    bool first = true;
    for (const char* line : lines) {
        text += first ? head : std::string(32, ' ');
        text += line;
        text += '\n';
        first = false;
    }
}

// The example padded to 31 and its first line, or the example on a line of its own when it
// leaves no room; further lines indented by 31.
void addSample(std::string& text, const char* example, std::initializer_list<const char*> lines)
{
    std::string head = std::string("  ") + example;
    if (head.size() >= 31) {
        text += head + "\n";
        head.clear();
    }
    head.resize(31, ' ');
    for (const char* line : lines) {
        text += head + line + "\n";
        head.assign(31, ' ');
    }
    text += '\n';
}

std::string shortUsage()
{
    std::string text = "\nApplication Usage:\n";
    text += kProgram;
    text += " <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
            "    [-d serial_num]\n"
            "    [-t transport] [-r router_serial]\n"
            "    [-s serial_port] [-o baud_rate]\n"
            "\n"
            "  Halcyonix Update and Maintenance Application\n"
            "    -H -h or --help for full usage information.\n"
            "\n";
    return text;
}

std::string parametersAndCommands()
{
    std::string text = "  Parameters to commands:\n";
    addEntry(text, "-i <voltaris_directory>",
             {"The Voltaris directory used for storage of", "firmware files. [Default: ~/.voltaris ]."});
    addEntry(text, "-b <build number>",
             {"Build version of the firmware to transfer.", "[Default: latest version available]."});
    addEntry(text, "-d <device>", {"Device serial number of the device to access."});
    addEntry(text, "-t <transport type>", {"communications method [USB,TCP,RECOVER]."});
    addEntry(text, "-f <kite file>", {"Firmware file to be transferred to device."});
    addEntry(text, "-r <router serial>", {"indirect connection through router device"});
    addEntry(text, "-s <serial port>", {"name of serial port to use for recovery"});
    addEntry(text, "-o <baud rate>",
             {"baud rate for serial port (2400, 4800, 9600,", "19200, 38400, 57600, 115200, 230400)"});
    text += "  Commands:\n";
    addEntry(text, "-B", {"list the Builds available for given device."});
    text += '\n';
    addEntry(text, "-L", {"list the local Builds available for given device."});
    text += '\n';
    addEntry(text, "-D", {"Discover devices that are currently connected."});
    text += '\n';
    addEntry(text, "-G",
             {"Get build file from the Voltaris server and",
              "store on local machine for download to device.",
              "Must specify a specific device with the -d option.",
              "Default is to obtain the latest build for the", "given device, override with -b."});
    text += '\n';
    addEntry(text, "-U",
             {"Update the firmware on device specified.",
              "Must specify a specific device with the -d option.",
              "Default is to download the latest build for the", "given device, override with -b",
              "or specify specific KITE file using -f."});
    addEntry(text, "-H or -h", {"Display extended usage information."});
    text += '\n';
    return text;
}

std::string extendedText()
{
    std::string text = "  Extended Parameters:\n";
    addEntry(text, "-e", {"echoing of bytes enabled during recovery."});
    addEntry(text, "-m", {"Attemps to use UEIBytes for faster loading"});
    addEntry(text, "-l 'log message'", {"message to place in device history log"});
    addEntry(text, "-k <filename>", {"log messages written into given filename", "Default:[APP.log]"});
    addEntry(text, "-u <host:port>",
             {"The hostname and port of the update server", "[Default: update.voltaris.com port 80]"});
    text += "  Extended Commands:\n";
    addEntry(text, "-I",
             {"View stored device information.", "Must be used with either the discovery command -D",
              "or a specific device given with -d."});
    text += '\n';
    addEntry(text, "-OVERRIDE",
             {"Override the model checks for KITE firmware files.",
              "This option should only be used when authorized by", "Voltaris development engineers."});
    text += '\n';
    addEntry(text, "-N", {"Get fingerprint from a device, requires -s"});
    text += '\n';
    addEntry(text, "-X <BIT_MASK>", {"Bitmask for Logging"});
    static constexpr struct {
        const char* name;
        uint32_t bit;
        bool gapAfter;
    } kMaskLines[] = {
        {"DEBUG_Updater", DEBUG_Updater, false},
        {"DEBUG_History", DEBUG_History, false},
        {"DEBUG_Attributes", DEBUG_Attributes, false},
        {"DEBUG_KiteFile", DEBUG_KiteFile, false},
        {"DEBUG_Network", DEBUG_Network_Legacy, false},
        {"DEBUG_ServerComm", DEBUG_ServerComm, true},
        {"DEBUG_Network", DEBUG_Network, false},
        {"DEBUG_Network_SR", DEBUG_Network_SR, false},
        {"DEBUG_Network_FIRM", DEBUG_Network_FIRM, true},
        {"DEBUG_NXPSerial", DEBUG_NXPSerial, false},
        {"DEBUG_NXPSerial_E", DEBUG_NXPSerial_E, false},
        {"DEBUG_NXPSerial_SR", DEBUG_NXPSerial_SR, true},
        {"DEBUG_APP", DEBUG_APP, true},
        {"DEBUG_iMXSerial", DEBUG_iMXSerial, true},
    };
    for (const auto& mask : kMaskLines) {
        char line[96];
        snprintf(line, sizeof line, "%32s%-20s0x%08X\n", "", mask.name, mask.bit);
        text += line;
        if (mask.gapAfter)
            text += '\n';
    }
    addEntry(text, "-C", {"Check the given KITEFILE"});
    text += '\n';
    return text;
}

std::string samplesText()
{
    std::string text = " Sample usage:\n\n";
    addSample(text, "-D",
              {"Discover all devices connected by either USB or TCPIP.",
               "Records the device information into the settings for that device."});
    addSample(text, "-D -t USB",
              {"Discover all the devices connected by USB. Records the",
               "device information into the settings for that device."});
    addSample(text, "-D -t USB -d 0F5849A",
              {"Discover settings of the specific device (serial number 0x40F5849A)"});
    addSample(text, "-G -d 40F5849A",
              {"Get the latest firmware for the given device.",
               "Downloads the firmware file into the updater specific device directory."});
    addSample(text, "-U -d 40F5849A",
              {"Update the firmware on the specific device.",
               "Without other options, this command will try to locate",
               "the latest firmware version to be used for updating the device."});
    addSample(text, "-G -d 40F5849A -b 99528558",
              {"Get the specified build's firmware for the given device.",
               "Downloads the firmware file into the updater's specific",
               "device directory with the build number as the filename."});
    addSample(text, "-G -U -d 40F5849A",
              {"Get the latest firmware for the given device.",
               "Downloads the firmware file into the updater specific",
               "device directory. After download, update the firmware", "using the latest release."});
    addSample(text, "-U -t RECOVER -s /dev/serial",
              {"Update the firmware as described above, but uses the serial interface",
               "in communicating with the device to install the latest firmware."});
    text += " Sample usage for network discovery and updates:\n";
    addSample(text, "-D -r D272031D",
              {"Discover all devices connected to the I2C Halcyonix network",
               "of the given routing device D272031D."});
    addSample(text, "-G -U -d 2181F0EE -r D272031D",
              {"Get and Update to the latest firmware for device 2181F0EE",
               "indirectly through routing device D272031D."});
    return text;
}

// __DATE__ is "Mmm dd yyyy" with a blank in place of a leading zero.
std::string buildDate()
{
    std::string date = __DATE__;
    if (date[4] == ' ')
        date[4] = '0';
    return date;
}

}  // namespace

std::string UsageText(bool extended, bool full)
{
    std::string text = shortUsage();
    if (full) {
        text += parametersAndCommands();
        if (extended)
            text += extendedText();
        text += samplesText();
    }
    return text;
}

void PrintUsage(bool extended, bool full)
{
    const std::string text = UsageText(extended, full);
    fwrite(text.data(), 1, text.size(), stderr);
}

std::string BannerText()
{
    return std::string(kProgram) + " (Version: " + kVersion + " " + buildDate() + ")";
}

std::string NoticeText()
{
    const std::string date = buildDate();
    return "Copyright (c) 2009-" + date.substr(date.size() - 4) +
           " Voltaris Instruments. All rights reserved.";
}
