// Kite firmware images: a short header, then one zlib stream holding typed blocks and a
// checksum. KiteFile reads an image and makes the few edits a transfer needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint8_t {
    KITE_BlockLoader = 0,
    KITE_BlockFirmware = 1,
    KITE_BlockOffsets = 2,
    KITE_BlockDescriptor = 4,
    KITE_BlockEntry = 5,
};

// One block of a loaded image. It points into its KiteFile's payload and owns nothing.
struct KiteBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t length = 0;         // content length as the file gives it
    uint32_t address = 0;        // loader and firmware blocks: the load address
    const uint8_t* data = nullptr;  // first content byte
};

// The quick check: "kite" and two non-zero header bytes.
bool isKiteFile(const char* path);

class KiteFile {
public:
    KiteFile() = default;
    // Throws std::runtime_error("Failed to load kite data") when the load fails.
    explicit KiteFile(const std::string& path);
    KiteFile(KiteFile&&) noexcept;
    KiteFile& operator=(KiteFile&&) noexcept;
    KiteFile(const KiteFile&) = delete;
    KiteFile& operator=(const KiteFile&) = delete;

    // True when the payload was inflated; a parse mismatch is only logged.
    bool load();

    std::vector<KiteBlock> blocksOfType(uint8_t type) const;
    std::string version() const;
    bool matchesModel(const char* modelName) const;
    bool matchesSerial(uint32_t serialNumber) const;
    bool setSerialNumber(uint32_t serialNumber);
    bool applyChipIdentifier(const uint32_t identifier[4]);

    const std::string& path() const { return path_; }
    uint32_t magic() const { return magic_; }
    uint16_t headerWord() const { return headerWord_; }
    uint32_t checksum() const { return checksum_; }
    uint32_t declaredBlockCount() const { return declaredBlockCount_; }
    uint32_t blockCount() const { return blockCount_; }
    const std::vector<KiteBlock>& blocks() const { return blocks_; }
    bool hasOffsets() const { return hasOffsets_; }
    uint32_t serialAddress() const { return serialAddress_; }
    uint32_t descriptorAddress() const { return descriptorAddress_; }
    const uint8_t* payload() const { return payload_.data(); }
    size_t payloadLength() const { return payload_.size(); }
    // Bytes left over (or missing, when negative) after the blocks and the checksum.
    long long parseRemainder() const { return parseRemainder_; }
    bool parsedCleanly() const { return parseRemainder_ == 0 && blockCount_ == declaredBlockCount_; }

    // One 16-byte descriptor field (0..3) of the first descriptor block; empty when absent.
    std::string descriptorField(int index) const;

private:
    bool readFile(std::vector<uint8_t>& bytes);
    bool inflate(const std::vector<uint8_t>& bytes);
    bool parse();
    void readOffsets();
    const KiteBlock* firstBlock(uint8_t type) const;
    void clear();

    std::string path_;
    uint32_t magic_ = 0;
    uint16_t headerWord_ = 0;
    uint32_t checksum_ = 0;
    uint32_t declaredBlockCount_ = 0;
    uint32_t blockCount_ = 0;
    long long parseRemainder_ = 0;
    std::vector<KiteBlock> blocks_;
    bool hasOffsets_ = false;
    uint32_t serialAddress_ = 0;
    uint32_t descriptorAddress_ = 0;
    // Moving a vector keeps its buffer, so the blocks' pointers stay valid across moves.
    std::vector<uint8_t> payload_;
};
