#include "debug_id.h"

#include <fstream>
#include <vector>

namespace {

constexpr char msfMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a"
                            "DS\0\0\0";
constexpr std::size_t msfMagicSize = 32;
constexpr std::uint32_t maxStreams = 1u << 16;
constexpr std::uint32_t maxDirectoryBytes = 16u << 20;
constexpr std::uint32_t infoStream = 1;

std::uint32_t le32(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

class MsfFile {
  public:
    explicit MsfFile(const std::string& path) : in_(path, std::ios::binary) {}

    bool open(std::string& why) {
        std::uint8_t header[56];
        if (!in_ || !read(0, header, sizeof header))
            return fail(why, "cannot be read");
        if (std::memcmp(header, msfMagic, msfMagicSize) != 0)
            return fail(why, "is not a PDB (no MSF 7.00 header)");
        blockSize_ = le32(header + 32);
        blockCount_ = le32(header + 40);
        directoryBytes_ = le32(header + 44);
        blockMapBlock_ = le32(header + 52);
        if (blockSize_ != 512 && blockSize_ != 1024 && blockSize_ != 2048 && blockSize_ != 4096)
            return fail(why, "has a block size of " + std::to_string(blockSize_));
        if (directoryBytes_ < 8 || directoryBytes_ > maxDirectoryBytes)
            return fail(why,
                        "has a stream directory of " + std::to_string(directoryBytes_) + " bytes");
        return true;
    }

    // The first `size` bytes of stream `index`; size must fit in its first block.
    bool streamStart(std::uint32_t index, std::uint8_t* out, std::uint32_t size, std::string& why) {
        std::vector<std::uint8_t> directory;
        if (!readDirectory(directory))
            return fail(why, "has a stream directory outside the file");
        std::uint32_t streams = le32(directory.data());
        if (streams <= index || streams > maxStreams || 4ull + 4ull * streams > directory.size())
            return fail(why, "has no stream " + std::to_string(index));
        std::uint64_t blockListAt = 4ull + 4ull * streams;
        for (std::uint32_t s = 0; s < index; ++s)
            blockListAt += 4ull * blocksFor(le32(directory.data() + 4 + 4 * s));
        std::uint32_t streamSize = le32(directory.data() + 4 + 4 * index);
        if (streamSize < size || size > blockSize_ || blockListAt + 4 > directory.size())
            return fail(why, "has a malformed information stream");
        std::uint32_t block = le32(directory.data() + blockListAt);
        if (block >= blockCount_ || !read(std::uint64_t{block} * blockSize_, out, size))
            return fail(why, "has its information stream outside the file");
        return true;
    }

  private:
    std::uint64_t blocksFor(std::uint32_t bytes) const {
        if (bytes == 0xffffffffu) // a deleted stream
            return 0;
        return (std::uint64_t{bytes} + blockSize_ - 1) / blockSize_;
    }

    bool readDirectory(std::vector<std::uint8_t>& directory) {
        std::uint64_t blocks = blocksFor(directoryBytes_);
        if (blocks * 4 > blockSize_ || blockMapBlock_ >= blockCount_)
            return false;
        std::vector<std::uint8_t> map(blocks * 4);
        if (!read(std::uint64_t{blockMapBlock_} * blockSize_, map.data(), map.size()))
            return false;
        directory.assign(blocks * blockSize_, 0);
        for (std::uint64_t i = 0; i < blocks; ++i) {
            std::uint32_t block = le32(map.data() + 4 * i);
            if (block >= blockCount_ || !read(std::uint64_t{block} * blockSize_,
                                              directory.data() + i * blockSize_, blockSize_))
                return false;
        }
        directory.resize(directoryBytes_);
        return true;
    }

    bool read(std::uint64_t at, std::uint8_t* out, std::size_t size) {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(in_.gcount()) == size;
    }

    static bool fail(std::string& why, const std::string& what) {
        why = what;
        return false;
    }

    std::ifstream in_;
    std::uint32_t blockSize_ = 0, blockCount_ = 0, directoryBytes_ = 0, blockMapBlock_ = 0;
};

} // namespace

std::optional<DebugId> readPdbDebugId(const std::string& path, std::string& why) {
    MsfFile file(path);
    // version, signature, age, GUID
    std::uint8_t info[28];
    if (!file.open(why) || !file.streamStart(infoStream, info, sizeof info, why))
        return std::nullopt;
    DebugId id;
    id.age = le32(info + 8);
    std::memcpy(id.guid, info + 12, sizeof id.guid);
    return id;
}
