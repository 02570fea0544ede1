// kite pack: builds a kite image from its parts.
// kite info: prints the summary of an image, the same one "Updater -C" prints.
//
// Image: "kite", a 16-bit header word, then one zlib stream holding the block count, the
// blocks (type/flags byte, 32-bit length, content) and a checksum, all big-endian. The
// checksum kite pack writes is the CRC-32 (zlib's crc32) of every payload byte before it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kUsage =
    "usage: kite pack -o FILE [--header WORD] [--loader ADDR,FILE[,FLAGS]]\n"
    "                 [--firmware ADDR,FILE[,FLAGS]] [--offsets SERIAL_ADDR,DESCRIPTOR_ADDR]\n"
    "                 [--descriptor VERSION,SERIAL,MODEL[,NAME]] [--entry ADDR] [--count N]\n"
    "       kite info FILE\n"
    "Blocks are written in the order given; --count overrides the declared block count.\n";

void append32(Bytes& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t read32(const Bytes& in, size_t at)
{
    return (uint32_t{in[at]} << 24) | (uint32_t{in[at + 1]} << 16) | (uint32_t{in[at + 2]} << 8) | in[at + 3];
}

std::vector<std::string> splitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, ',');)
        parts.push_back(part);
    return parts;
}

bool number(const std::string& text, uint32_t& value)
{
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || parsed > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool readWhole(const std::string& path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void appendBlock(Bytes& blocks, uint32_t typeAndFlags, const Bytes& content)
{
    blocks.push_back(static_cast<uint8_t>(typeAndFlags));
    append32(blocks, static_cast<uint32_t>(content.size()));
    blocks.insert(blocks.end(), content.begin(), content.end());
}

void appendField(Bytes& out, const std::string& text)
{
    std::string field = text.substr(0, 16);
    field.resize(16, ' ');
    out.insert(out.end(), field.begin(), field.end());
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "kite: %s\n", why.c_str());
    return 1;
}

// One block option of kite pack; false with the reason in why.
bool packBlock(const std::string& option, const std::string& value, Bytes& blocks, std::string& why)
{
    const std::vector<std::string> parts = splitCommas(value);
    uint32_t a = 0, b = 0, flags = 0;
    if (option == "--loader" || option == "--firmware") {
        Bytes code;
        if (parts.size() < 2 || parts.size() > 3 || !number(parts[0], a) ||
            (parts.size() == 3 && (!number(parts[2], flags) || flags > 7))) {
            why = option + " wants ADDR,FILE[,FLAGS] with FLAGS 0..7";
            return false;
        }
        if (!readWhole(parts[1], code)) {
            why = "cannot read " + parts[1];
            return false;
        }
        Bytes content;
        append32(content, a);
        content.insert(content.end(), code.begin(), code.end());
        appendBlock(blocks, (flags << 5) | (option == "--loader" ? 0u : 1u), content);
    } else if (option == "--offsets") {
        if (parts.size() != 2 || !number(parts[0], a) || !number(parts[1], b)) {
            why = "--offsets wants SERIAL_ADDR,DESCRIPTOR_ADDR";
            return false;
        }
        Bytes content;
        append32(content, a);
        append32(content, b);
        appendBlock(blocks, 2, content);
    } else if (option == "--descriptor") {
        if (parts.size() < 3 || parts.size() > 4) {
            why = "--descriptor wants VERSION,SERIAL,MODEL[,NAME]";
            return false;
        }
        Bytes content;
        appendField(content, parts.size() == 4 ? parts[3] : "kite pack");
        appendField(content, parts[0]);
        appendField(content, parts[1]);
        appendField(content, parts[2]);
        appendBlock(blocks, 4, content);
    } else if (option == "--entry") {
        if (!number(value, a)) {
            why = "--entry wants ADDR";
            return false;
        }
        Bytes content;
        append32(content, a);
        appendBlock(blocks, 5, content);
    } else {
        why = "unknown option " + option;
        return false;
    }
    return true;
}

int pack(int argc, char** argv)
{
    std::string output, why;
    uint32_t header = 0x0101, declared = 0, blockCount = 0;
    bool countGiven = false;
    Bytes blocks;
    for (int i = 2; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return fail(option + " wants a value");
        const std::string value = argv[i + 1];
        if (option == "-o") {
            output = value;
        } else if (option == "--header") {
            if (!number(value, header) || header > 0xFFFF)
                return fail("--header wants a 16-bit word");
        } else if (option == "--count") {
            if (!number(value, declared))
                return fail("--count wants a number");
            countGiven = true;
        } else if (packBlock(option, value, blocks, why)) {
            ++blockCount;
        } else {
            return fail(why);
        }
    }
    if (output.empty())
        return fail("pack wants -o FILE");
    Bytes payload;
    append32(payload, countGiven ? declared : blockCount);
    payload.insert(payload.end(), blocks.begin(), blocks.end());
    append32(payload, static_cast<uint32_t>(crc32(0L, payload.data(), static_cast<uInt>(payload.size()))));

    uLongf size = compressBound(static_cast<uLong>(payload.size()));
    Bytes image = {'k', 'i', 't', 'e', static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)};
    image.resize(6 + size);
    if (compress2(image.data() + 6, &size, payload.data(), static_cast<uLong>(payload.size()), 9) != Z_OK)
        return fail("compression failed");
    image.resize(6 + size);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out)
        return fail("cannot write " + output);
    return 0;
}

// Inflates with a streaming decoder, holding the result to eight times the compressed size
// as the program's reader does.
bool inflatePayload(const Bytes& file, Bytes& payload)
{
    if (file.size() <= 6)
        return false;
    payload.assign((file.size() - 6) * 8, 0);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = const_cast<Bytef*>(file.data() + 6);
    stream.avail_in = static_cast<uInt>(file.size() - 6);
    stream.next_out = payload.data();
    stream.avail_out = static_cast<uInt>(payload.size());
    const int result = inflate(&stream, Z_FINISH);
    payload.resize(stream.total_out);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

std::string printable(const Bytes& bytes, size_t at)
{
    std::string text;
    for (size_t i = at; i < at + 16; ++i)
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    return text;
}

int info(const std::string& path)
{
    Bytes file, payload;
    if (!readWhole(path, file) || file.size() < 6 || std::memcmp(file.data(), "kite", 4) != 0 || file[4] == 0 ||
        file[5] == 0)
        return fail("Not a kite file: " + path);
    if (!inflatePayload(file, payload))
        return fail("Could not load kite file: " + path);

    const uint32_t declared = payload.size() >= 4 ? read32(payload, 0) : 0;
    std::string blockLines, offsets = "Offsets: none\n", descriptor = "Descriptor: none\n";
    bool offsetsSeen = false, descriptorSeen = false;
    long long remaining = static_cast<long long>(payload.size()) - 4;
    size_t at = 4;
    uint32_t parsed = 0;
    char line[160];
    while (remaining > 4 && at + 5 <= payload.size()) {
        const uint8_t kind = payload[at];
        const uint32_t length = read32(payload, at + 1);
        if (at + 5 + uint64_t{length} > payload.size())
            break;
        const size_t content = at + 5;
        const uint32_t type = kind & 0x1F;
        const uint32_t address = (type <= 1 && length >= 4) ? read32(payload, content) : 0;
        std::snprintf(line, sizeof line, "Block %u: type %u flags %u length %u address 0x%08X\n", parsed, type,
                      kind >> 5u, length, address);
        blockLines += line;
        if (type == 2 && !offsetsSeen) {
            offsetsSeen = true;
            std::snprintf(line, sizeof line, "Offsets: serial number 0x%08X, descriptor 0x%08X\n",
                          length >= 4 ? read32(payload, content) : 0u, length >= 8 ? read32(payload, content + 4) : 0u);
            offsets = line;
        }
        if (type == 4 && !descriptorSeen) {
            descriptorSeen = true;
            descriptor = "Descriptor:";
            for (size_t f = 0; f < 4; ++f)
                descriptor += " [" + (length >= 16 * (f + 1) ? printable(payload, content + 16 * f) : std::string()) + "]";
            descriptor += "\n";
        }
        ++parsed;
        remaining -= 5 + static_cast<long long>(length);
        at = content + length;
    }
    const uint32_t checksum = at + 4 <= payload.size() ? read32(payload, at) : 0;

    std::printf("Kite file: %s\nHeader word: 0x%02X%02X\nBlocks declared: %u\nBlocks parsed: %u\n%s%s%s"
                "Checksum: 0x%08X\n",
                path.c_str(), file[4], file[5], declared, parsed, blockLines.c_str(), offsets.c_str(),
                descriptor.c_str(), checksum);
    const bool sizeMismatch = remaining - 4 != 0;
    if (sizeMismatch)
        std::printf("Mismatch: %lld bytes remaining\n", remaining - 4);
    if (parsed != declared)
        std::printf("Mismatch: %u blocks parsed, %u declared\n", parsed, declared);
    std::fflush(stdout);
    if (sizeMismatch || parsed != declared)
        return fail("Kite file " + path + " has a block parsing mismatch");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pack")
        return pack(argc, argv);
    if (command == "info" && argc == 3)
        return info(argv[2]);
    std::fputs(kUsage, stderr);
    return command == "--help" || command == "-h" ? 0 : 1;
}
