#include "KiteImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include <zlib.h>

#include "UpdaterDisplay.h"
#include "aFile.h"

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kBlockHeaderSize = 5;
constexpr size_t kFieldSize = 16;
constexpr size_t kDescriptorSerialOffset = 32;
constexpr size_t kDescriptorVersionOffset = 16;
constexpr size_t kDescriptorModelOffset = 48;
constexpr size_t kInflateFactor = 8;

uint32_t bigEndian32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

// A field of a block's content: its bytes when they lie wholly inside the block, else none.
const uint8_t* contentField(const KiteBlock& block, size_t offset, size_t size)
{
    if (block.data == nullptr || uint64_t{offset} + size > block.length)
        return nullptr;
    return block.data + offset;
}

std::string fieldText(const KiteBlock* block, size_t offset)
{
    const uint8_t* field = block ? contentField(*block, offset, kFieldSize) : nullptr;
    return field ? std::string(reinterpret_cast<const char*>(field), kFieldSize) : std::string();
}

// The firmware code bytes of a block as a range of target addresses, when [target,
// target + size) lies inside it: the position of target in the block's content.
bool codePosition(const KiteBlock& block, uint32_t target, size_t size, size_t& position)
{
    if (block.length < 4)
        return false;
    const uint64_t codeEnd = uint64_t{block.address} + block.length - 4;
    if (target < block.address || uint64_t{target} + size > codeEnd)
        return false;
    position = target - block.address + 4;
    return true;
}

}  // namespace

bool isKiteFile(const char* path)
{
    aFile* file = aFile_Open(path, aFileModeReadOnly);
    if (file == nullptr) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error - cannot open kite file: '%s'\n", path);
        return false;
    }
    uint8_t header[kHeaderSize] = {};
    size_t got = 0;
    const aErr error = aFile_Read(file, header, sizeof header, &got);
    aFile_Close(&file);
    return error == aErrNone && got == kHeaderSize && std::memcmp(header, "kite", 4) == 0 &&
           header[4] != 0 && header[5] != 0;
}

KiteFile::KiteFile(const std::string& path) : path_(path)
{
    if (!load())
        throw std::runtime_error("Failed to load kite data");
}

KiteFile::KiteFile(KiteFile&& other) noexcept
{
    *this = std::move(other);
}

KiteFile& KiteFile::operator=(KiteFile&& other) noexcept
{
    if (this != &other) {
        path_ = std::move(other.path_);
        magic_ = other.magic_;
        headerWord_ = other.headerWord_;
        checksum_ = other.checksum_;
        declaredBlockCount_ = other.declaredBlockCount_;
        blockCount_ = other.blockCount_;
        parseRemainder_ = other.parseRemainder_;
        blocks_ = std::move(other.blocks_);
        hasOffsets_ = other.hasOffsets_;
        serialAddress_ = other.serialAddress_;
        descriptorAddress_ = other.descriptorAddress_;
        payload_ = std::move(other.payload_);
        other.clear();
    }
    return *this;
}

void KiteFile::clear()
{
    magic_ = 0;
    headerWord_ = 0;
    checksum_ = 0;
    declaredBlockCount_ = 0;
    blockCount_ = 0;
    parseRemainder_ = 0;
    blocks_.clear();
    hasOffsets_ = false;
    serialAddress_ = 0;
    descriptorAddress_ = 0;
    payload_.clear();
}

bool KiteFile::load()
{
    debugPrintf(DEBUG_KiteFile, "KITEFILE: Loading File [%s]\n", path_.c_str());
    clear();
    if (!aFile_Exists(path_.c_str())) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: KITE file not found [%s]\n", path_.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!readFile(bytes))
        return false;
    if (bytes.size() > kHeaderSize) {
        magic_ = bigEndian32(bytes.data());
        headerWord_ = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    }
    const bool inflated = inflate(bytes);
    if (inflated) {
        parse();
        readOffsets();
    }
    hasOffsets_ = firstBlock(KITE_BlockOffsets) != nullptr;
    return inflated;
}

bool KiteFile::readFile(std::vector<uint8_t>& bytes)
{
    aFile* file = aFile_Open(path_.c_str(), aFileModeReadOnly);
    if (file == nullptr) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error - cannot open kite file: '%s'\n", path_.c_str());
        return false;
    }
    uint32_t size = 0;
    aErr error = aFile_GetSize(file, &size);
    if (error != aErrNone) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error (%d) getting kite file size from %s\n", error,
                    path_.c_str());
        aFile_Close(&file);
        return false;
    }
    bytes.resize(size);
    size_t got = 0;
    error = size == 0 ? aErrNone : aFile_Read(file, bytes.data(), size, &got);
    aFile_Close(&file);
    if (error != aErrNone) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error (%d) reading %s\n", error, path_.c_str());
        return false;
    }
    if (got < size) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error reading %s read %zu bytes of %zu byte file\n",
                    path_.c_str(), got, size_t{size});
        return false;
    }
    return true;
}

bool KiteFile::inflate(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() <= kHeaderSize) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error - no compressed data in %s (%zu bytes)\n",
                    path_.c_str(), bytes.size());
        return false;
    }
    const size_t compressed = bytes.size() - kHeaderSize;
    try {
        payload_.resize(kInflateFactor * compressed);
    } catch (const std::bad_alloc&) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error (%d) decompressing kite file.\n", Z_MEM_ERROR);
        payload_.clear();
        return false;
    }
    uLongf length = static_cast<uLongf>(payload_.size());
    const int result = uncompress(payload_.data(), &length, bytes.data() + kHeaderSize,
                                  static_cast<uLong>(compressed));
    if (result != Z_OK) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Error (%d) decompressing kite file.\n", result);
        payload_.clear();
        return false;
    }
    payload_.resize(length);  // shrinking keeps the buffer in place
    return true;
}

bool KiteFile::parse()
{
    blocks_.clear();
    blockCount_ = 0;
    const size_t length = payload_.size();
    const uint8_t* bytes = payload_.data();
    declaredBlockCount_ = length >= 4 ? bigEndian32(bytes) : 0;
    debugPrintf(DEBUG_KiteFile, "KITEFILE:\t\t File reports %d blocks\n",
                static_cast<int>(declaredBlockCount_));
    debugPrintf(DEBUG_KiteFile, "KITEFILE: Kite file objects:\n");
    debugPrintf(DEBUG_KiteFile, "KITEFILE: \t\tType Flags Length\n");

    long long remaining = static_cast<long long>(length) - 4;
    size_t cursor = 4;
    while (remaining > 4 && cursor + kBlockHeaderSize <= length) {
        KiteBlock block;
        block.type = bytes[cursor] & 0x1F;
        block.flags = static_cast<uint8_t>(bytes[cursor] >> 5);
        block.length = bigEndian32(bytes + cursor + 1);
        if (uint64_t{cursor} + kBlockHeaderSize + block.length > length)
            break;  // a block that does not fit is not added
        block.data = bytes + cursor + kBlockHeaderSize;
        if ((block.type == KITE_BlockLoader || block.type == KITE_BlockFirmware) && block.length >= 4)
            block.address = bigEndian32(block.data);
        debugPrintf(DEBUG_KiteFile, "KITEFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
                    static_cast<int>(block.length));
        if (block.type == KITE_BlockDescriptor) {
            for (size_t field = 0; field < 4; ++field)
                debugPrintf(DEBUG_KiteFile, "KITEFILE:\t\t \t[%16.16s]\n",
                            fieldText(&block, field * kFieldSize).c_str());
        }
        blocks_.push_back(block);
        ++blockCount_;
        remaining -= static_cast<long long>(kBlockHeaderSize) + block.length;
        cursor += kBlockHeaderSize + block.length;
    }
    checksum_ = cursor + 4 <= length ? bigEndian32(bytes + cursor) : 0;
    debugPrintf(DEBUG_KiteFile, "KITEFILE:\t\t File checksum %08X\n", checksum_);

    parseRemainder_ = remaining - 4;
    bool clean = true;
    if (parseRemainder_ != 0) {
        debugPrintf(DEBUG_KiteFile,
                    "KITEFILE: Block parsing mismatch in data size. (%lld bytes remaining)\n",
                    parseRemainder_);
        clean = false;
    }
    if (blockCount_ != declaredBlockCount_) {
        debugPrintf(DEBUG_KiteFile, "KITEFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                    static_cast<int>(blockCount_), static_cast<int>(declaredBlockCount_));
        clean = false;
    }
    return clean;
}

void KiteFile::readOffsets()
{
    const KiteBlock* offsets = firstBlock(KITE_BlockOffsets);
    if (offsets == nullptr)
        return;
    const uint8_t* serial = contentField(*offsets, 0, 4);
    const uint8_t* descriptor = contentField(*offsets, 4, 4);
    serialAddress_ = serial ? bigEndian32(serial) : 0;
    descriptorAddress_ = descriptor ? bigEndian32(descriptor) : 0;
    debugPrintf(DEBUG_KiteFile, "KITEFILE: Offsets: Serial number: %d, Descriptor: %d\n",
                static_cast<int>(serialAddress_), static_cast<int>(descriptorAddress_));
}

const KiteBlock* KiteFile::firstBlock(uint8_t type) const
{
    for (const KiteBlock& block : blocks_)
        if (block.type == type)
            return &block;
    return nullptr;
}

std::vector<KiteBlock> KiteFile::blocksOfType(uint8_t type) const
{
    std::vector<KiteBlock> found;
    for (const KiteBlock& block : blocks_)
        if (block.type == type)
            found.push_back(block);
    return found;
}

std::string KiteFile::descriptorField(int index) const
{
    if (index < 0 || index > 3)
        return {};
    return fieldText(firstBlock(KITE_BlockDescriptor), static_cast<size_t>(index) * kFieldSize);
}

std::string KiteFile::version() const
{
    const std::string field = fieldText(firstBlock(KITE_BlockDescriptor), kDescriptorVersionOffset);
    return field.substr(0, std::min(field.find(' '), std::strlen(field.c_str())));
}

bool KiteFile::matchesModel(const char* modelName) const
{
    const std::string field = fieldText(firstBlock(KITE_BlockDescriptor), kDescriptorModelOffset);
    if (field.empty() || modelName == nullptr)
        return false;
    char model[kFieldSize + 1] = {};
    std::memcpy(model, field.data(), kFieldSize);
    for (size_t i = kFieldSize; i > 0 && model[i - 1] == ' '; --i)
        model[i - 1] = '\0';
    if (std::strncmp(model, modelName, std::strlen(modelName)) != 0)
        return false;
    debugPrintf(DEBUG_KiteFile, "Model matches model number ([%s] == [%s])\n", model, modelName);
    return true;
}

bool KiteFile::matchesSerial(uint32_t serialNumber) const
{
    const std::string field = fieldText(firstBlock(KITE_BlockDescriptor), kDescriptorSerialOffset);
    uint32_t value = 0;
    for (size_t i = 0; i < 8 && i < field.size(); ++i) {
        const char c = field[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value == serialNumber;
}

bool KiteFile::setSerialNumber(uint32_t serialNumber)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", serialNumber);
    bool done = false;
    for (const KiteBlock& block : blocks_) {
        if (block.type != KITE_BlockFirmware)
            continue;
        // The blocks point into payload_, which this object owns and may edit.
        uint8_t* content = payload_.data() + (block.data - payload_.data());
        size_t position = 0;
        if (serialAddress_ != 0) {
            if (codePosition(block, serialAddress_, 4, position)) {
                const uint32_t old = uint32_t{content[position]} | (uint32_t{content[position + 1]} << 8) |
                                     (uint32_t{content[position + 2]} << 16) |
                                     (uint32_t{content[position + 3]} << 24);
                debugPrintf(DEBUG_KiteFile, "KITEFILE: updating serial number from %08X ==> %08X\n", old,
                            serialNumber);
                for (int i = 0; i < 4; ++i)
                    content[position + static_cast<size_t>(i)] = static_cast<uint8_t>(serialNumber >> (8 * i));
            }
            done = true;
        }
        if (descriptorAddress_ != 0 && codePosition(block, descriptorAddress_, 16, position)) {
            for (size_t i = 0; i < 8; ++i)
                content[position + 2 * i] = static_cast<uint8_t>(digits[i]);
            done = true;
        }
    }
    return done;
}

bool KiteFile::applyChipIdentifier(const uint32_t identifier[4])
{
    uint8_t transform[16];
    for (int word = 0; word < 4; ++word)
        for (int byte = 0; byte < 4; ++byte)
            transform[word * 4 + byte] = static_cast<uint8_t>(identifier[word] >> (24 - 8 * byte));
    for (const KiteBlock& block : blocks_) {
        if (block.type != KITE_BlockFirmware || block.length <= 4)
            continue;
        uint8_t* code = payload_.data() + (block.data - payload_.data()) + 4;
        uint8_t running = 0;
        for (size_t i = 0; i < block.length - 4; ++i) {
            running = static_cast<uint8_t>(transform[i % 16] ^ code[i] ^ running);
            code[i] = running;
        }
    }
    return true;
}
