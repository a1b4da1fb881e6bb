#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint32_t pageSize = 4096;
constexpr std::uint32_t maxSections = 96;
constexpr std::uint32_t maxImports = 4096;
constexpr std::uint32_t maxExports = 65536;
constexpr std::uint32_t maxNameLength = 1024;

// The few PE constants this reader needs.
constexpr std::uint16_t machineI386 = 0x14c;
constexpr std::uint16_t fileIsDll = 0x2000;
constexpr std::uint16_t pe32Magic = 0x10b;
constexpr std::uint32_t sectionRead = 0x40000000, sectionWrite = 0x80000000,
                        sectionExecute = 0x20000000;
enum Directory : std::uint32_t {
    exportTable = 0,
    importTable = 1,
    baseRelocationTable = 5,
    debugDirectory = 6
};
constexpr std::uint32_t debugTypeCodeView = 2;
constexpr std::uint32_t maxDebugEntries = 64;
constexpr std::uint16_t relocationAbsolute = 0, relocationHighLow = 3;

// Bounds-checked little-endian reads from the file or the laid-out image.
class ImageReader {
  public:
    explicit ImageReader(const std::vector<std::uint8_t>& image) : image_(image) {}

    bool fits(std::uint32_t rva, std::uint32_t size) const {
        return rva <= image_.size() && size <= image_.size() - rva;
    }
    bool u16(std::uint32_t rva, std::uint16_t& out) const {
        if (!fits(rva, 2))
            return false;
        out = static_cast<std::uint16_t>(image_[rva] | image_[rva + 1] << 8);
        return true;
    }
    bool u32(std::uint32_t rva, std::uint32_t& out) const {
        if (!fits(rva, 4))
            return false;
        out = static_cast<std::uint32_t>(image_[rva]) |
              static_cast<std::uint32_t>(image_[rva + 1]) << 8 |
              static_cast<std::uint32_t>(image_[rva + 2]) << 16 |
              static_cast<std::uint32_t>(image_[rva + 3]) << 24;
        return true;
    }
    // A NUL-terminated name of at most maxNameLength bytes.
    bool name(std::uint32_t rva, std::string& out) const {
        out.clear();
        for (std::uint32_t i = 0; i <= maxNameLength; ++i) {
            if (!fits(rva, i + 1))
                return false;
            char c = static_cast<char>(image_[rva + i]);
            if (c == '\0')
                return !out.empty();
            out += c;
        }
        return false;
    }

  private:
    const std::vector<std::uint8_t>& image_;
};

std::uint32_t roundUpToPage(std::uint64_t size) {
    return static_cast<std::uint32_t>((size + pageSize - 1) / pageSize * pageSize);
}

std::uint32_t permissionsOf(std::uint32_t characteristics) {
    std::uint32_t permissions = 0;
    if (characteristics & sectionRead)
        permissions |= pageRead;
    if (characteristics & sectionWrite)
        permissions |= pageWrite;
    if (characteristics & sectionExecute)
        permissions |= pageExecute;
    return permissions;
}

class PeReader {
  public:
    PeReader(const std::string& fileName, const std::vector<std::uint8_t>& file, PeImage& out)
        : fileName_(fileName), file_(file), out_(out) {}

    bool read(std::string& error) {
        out_ = PeImage{};
        out_.fileName = fileName_;
        if (file_.size() > maxPeFileSize)
            return fail(error, "the file is larger than 64 MiB");
        if (!(headers(error) && header(error) && layOut(error) && imports(error) &&
              exports(error) && fixups(error)))
            return false;
        debugId();
        return true;
    }

  private:
    bool fail(std::string& error, const std::string& why) {
        error = fileName_ + ": " + why;
        return false;
    }

    // The DOS stub's pointer, the PE signature, the file header and the optional header.
    bool headers(std::string& error) {
        ImageReader file(file_);
        std::uint16_t mz = 0;
        std::uint32_t pe = 0, signature = 0;
        if (!file.u16(0, mz) || mz != 0x5a4d || !file.u32(0x3c, pe) || !file.u32(pe, signature) ||
            signature != 0x00004550)
            return fail(error, "not a PE file");
        std::uint16_t optionalSize = 0, magic = 0;
        if (!file.u16(pe + 4, machine_) || !file.u16(pe + 6, sectionCount_) ||
            !file.u16(pe + 20, optionalSize) || !file.u16(pe + 22, characteristics_))
            return fail(error, "its file header runs past the end of the file");
        std::uint32_t optional = pe + 24;
        if (!file.u16(optional, magic) || magic != pe32Magic || optionalSize < 96 ||
            !file.fits(optional, optionalSize))
            return fail(error, "not a 32-bit PE image");
        file.u32(optional + 16, entryRva_);
        file.u32(optional + 28, imageBase_);
        file.u32(optional + 56, sizeOfImage_);
        file.u32(optional + 60, sizeOfHeaders_);
        std::uint32_t directoryCount = 0;
        file.u32(optional + 92, directoryCount);
        directoryCount = std::min<std::uint32_t>({directoryCount, 16u, (optionalSize - 96u) / 8u});
        for (std::uint32_t i = 0; i < directoryCount; ++i) {
            file.u32(optional + 96 + 8 * i, directories_[i][0]);
            file.u32(optional + 100 + 8 * i, directories_[i][1]);
        }
        sectionTable_ = optional + optionalSize;
        if (!file.fits(sectionTable_, 40u * sectionCount_))
            return fail(error, "its section table runs past the end of the file");
        return true;
    }

    bool header(std::string& error) {
        if (machine_ != machineI386)
            return fail(error, "not built for 32-bit x86");
        if (!(characteristics_ & fileIsDll))
            return fail(error, "not a DLL");
        if (sizeOfImage_ == 0 || sizeOfImage_ > maxPeImageSize)
            return fail(error, "its image size is 0 or larger than 64 MiB");
        if (imageBase_ % 65536 != 0 || sizeOfHeaders_ > sizeOfImage_ ||
            sizeOfHeaders_ > file_.size())
            return fail(error, "its image base or header size is malformed");
        if (sectionCount_ > maxSections)
            return fail(error, "it has more than 96 sections");
        out_.preferredBase = imageBase_;
        out_.sizeOfImage = roundUpToPage(sizeOfImage_);
        out_.entryRva = entryRva_;
        out_.headerSize = sizeOfHeaders_;
        if (out_.entryRva >= out_.sizeOfImage)
            return fail(error, "its entry point lies outside the image");
        return true;
    }

    // Copies the headers and each section to its place in the image.
    bool layOut(std::string& error) {
        out_.image.assign(out_.sizeOfImage, 0);
        std::memcpy(out_.image.data(), file_.data(), out_.headerSize);
        ImageReader file(file_);
        for (std::uint32_t i = 0; i < sectionCount_; ++i) {
            std::uint32_t entry = sectionTable_ + 40 * i;
            std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawAt = 0, flags = 0;
            file.u32(entry + 8, virtualSize);
            file.u32(entry + 12, virtualAddress);
            file.u32(entry + 16, rawSize);
            file.u32(entry + 20, rawAt);
            file.u32(entry + 36, flags);
            std::uint64_t rva = virtualAddress;
            // A section may leave its size in memory 0, and may be shorter in memory than in the
            // file.
            std::uint64_t size = virtualSize != 0 ? virtualSize : rawSize;
            const char* nameAt = reinterpret_cast<const char*>(file_.data() + entry);
            std::string name(nameAt, strnlen(nameAt, 8));
            if (rva < out_.headerSize || rva + size > out_.sizeOfImage)
                return fail(error, "section " + name + " lies outside the image");
            std::uint64_t raw = std::min<std::uint64_t>(rawSize, size);
            if (raw > 0 && (rawAt > file_.size() || raw > file_.size() - rawAt))
                return fail(error, "section " + name + " runs past the end of the file");
            if (raw > 0)
                std::memcpy(out_.image.data() + rva, file_.data() + rawAt, raw);
            out_.sections.push_back({name, static_cast<std::uint32_t>(rva),
                                     static_cast<std::uint32_t>(size), permissionsOf(flags)});
        }
        return true;
    }

    struct DirectoryEntry {
        std::uint32_t RelativeVirtualAddress;
        std::uint32_t Size;
    };
    // A data directory that is present, or nothing.
    std::optional<DirectoryEntry> directory(Directory index) const {
        DirectoryEntry d{directories_[index][0], directories_[index][1]};
        if (d.RelativeVirtualAddress == 0 || d.Size == 0)
            return std::nullopt;
        return d;
    }

    bool imports(std::string& error) {
        const std::optional<DirectoryEntry> d = directory(importTable);
        if (!d)
            return true;
        ImageReader image(out_.image);
        for (std::uint32_t entry = d->RelativeVirtualAddress;; entry += 20) {
            std::uint32_t lookup = 0, nameRva = 0, slots = 0;
            if (!image.u32(entry, lookup) || !image.u32(entry + 12, nameRva) ||
                !image.u32(entry + 16, slots))
                return fail(error, "its import table runs outside the image");
            if (lookup == 0 && nameRva == 0 && slots == 0)
                return true;
            std::string dll;
            if (!image.name(nameRva, dll))
                return fail(error, "an imported DLL's name is malformed");
            if (!importsOf(image, dll, lookup != 0 ? lookup : slots, slots, error))
                return false;
        }
    }

    bool importsOf(const ImageReader& image, const std::string& dll, std::uint32_t lookup,
                   std::uint32_t slots, std::string& error) {
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t entry = 0;
            if (!image.u32(lookup + 4 * i, entry) || !image.fits(slots + 4 * i, 4))
                return fail(error, "the imports from " + dll + " run outside the image");
            if (entry == 0)
                return true;
            if (entry & 0x80000000u)
                return fail(error,
                            "it imports from " + dll + " by ordinal, which is not supported");
            std::string function;
            if (!image.name(entry + 2, function))
                return fail(error, "an import name from " + dll + " is malformed");
            if (out_.imports.size() >= maxImports)
                return fail(error, "it has more than 4096 imports");
            out_.imports.push_back({dll, function, slots + 4 * i});
        }
    }

    bool exports(std::string& error) {
        const std::optional<DirectoryEntry> d = directory(exportTable);
        if (!d)
            return true;
        ImageReader image(out_.image);
        std::uint32_t base = d->RelativeVirtualAddress;
        std::uint32_t functions = 0, names = 0, nameTable = 0, addresses = 0, ordinals = 0;
        if (!image.u32(base + 20, functions) || !image.u32(base + 24, names) ||
            !image.u32(base + 28, addresses) || !image.u32(base + 32, nameTable) ||
            !image.u32(base + 36, ordinals))
            return fail(error, "its export table runs outside the image");
        if (names > maxExports)
            return fail(error, "it has more than 65536 exports");
        for (std::uint32_t i = 0; i < names; ++i) {
            std::uint32_t nameRva = 0, rva = 0;
            std::uint16_t ordinal = 0;
            std::string name;
            if (!image.u32(nameTable + 4 * i, nameRva) || !image.u16(ordinals + 2 * i, ordinal) ||
                !image.name(nameRva, name) || ordinal >= functions ||
                !image.u32(addresses + 4 * ordinal, rva))
                return fail(error, "its export table is malformed");
            if (rva >= base && rva < base + d->Size)
                return fail(error, "export " + name + " is forwarded, which is not supported");
            if (rva >= out_.sizeOfImage)
                return fail(error, "export " + name + " lies outside the image");
            out_.exports[name] = rva;
        }
        return true;
    }

    // The CodeView record ("RSDS", GUID, age, PDB name). Symbols are optional:
    // a malformed or missing record leaves the DLL without them, not unloadable.
    void debugId() {
        const std::optional<DirectoryEntry> d = directory(debugDirectory);
        if (!d)
            return;
        ImageReader image(out_.image);
        std::uint32_t entries = std::min(d->Size / 28, maxDebugEntries);
        for (std::uint32_t i = 0; i < entries; ++i) {
            std::uint32_t at = d->RelativeVirtualAddress + 28 * i, type = 0, size = 0, rva = 0;
            if (!image.u32(at + 12, type) || !image.u32(at + 16, size) || !image.u32(at + 20, rva))
                return;
            if (type != debugTypeCodeView || size < 25 || !image.fits(rva, size))
                continue;
            const std::uint8_t* record = out_.image.data() + rva;
            if (std::memcmp(record, "RSDS", 4) != 0)
                continue;
            std::memcpy(out_.debugId.guid, record + 4, 16);
            image.u32(rva + 20, out_.debugId.age);
            const char* name = reinterpret_cast<const char*>(record + 24);
            out_.debugId.pdbName.assign(name, strnlen(name, size - 24));
            out_.hasDebugId = true;
            return;
        }
    }

    bool fixups(std::string& error) {
        const std::optional<DirectoryEntry> d = directory(baseRelocationTable);
        if (!d)
            return true;
        ImageReader image(out_.image);
        std::uint32_t at = d->RelativeVirtualAddress;
        if (!image.fits(at, d->Size))
            return fail(error, "its relocation table runs outside the image");
        std::uint32_t end = at + d->Size;
        while (end - at >= 8) {
            std::uint32_t page = 0, blockSize = 0;
            image.u32(at, page);
            image.u32(at + 4, blockSize);
            if (blockSize < 8 || blockSize > end - at || blockSize % 2 != 0)
                return fail(error, "a relocation block is malformed");
            for (std::uint32_t entry = at + 8; entry < at + blockSize; entry += 2) {
                std::uint16_t value = 0;
                image.u16(entry, value);
                unsigned type = value >> 12;
                std::uint32_t rva = page + (value & 0x0fffu);
                if (type == relocationAbsolute)
                    continue;
                if (type != relocationHighLow)
                    return fail(error, "it has a relocation of type " + std::to_string(type) +
                                           ", which is not supported");
                if (!image.fits(rva, 4))
                    return fail(error, "a relocation lies outside the image");
                out_.fixups.push_back(rva);
            }
            at += blockSize;
        }
        return true;
    }

    const std::string& fileName_;
    const std::vector<std::uint8_t>& file_;
    PeImage& out_;
    std::uint16_t machine_ = 0, sectionCount_ = 0, characteristics_ = 0;
    std::uint32_t entryRva_ = 0, imageBase_ = 0, sizeOfImage_ = 0, sizeOfHeaders_ = 0;
    std::uint32_t sectionTable_ = 0;
    std::uint32_t directories_[16][2] = {};
};

} // namespace

bool readPeImage(const std::string& fileName, const std::vector<std::uint8_t>& file, PeImage& out,
                 std::string& error) {
    return PeReader(fileName, file, out).read(error);
}
