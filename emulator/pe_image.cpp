#include "pe_image.h"

#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Object/COFF.h>
#include <llvm/Support/Error.h>
#include <llvm/Support/MemoryBuffer.h>

#include <cstring>

namespace {

constexpr std::uint32_t pageSize = 4096;
constexpr std::uint32_t maxSections = 96;
constexpr std::uint32_t maxImports = 4096;
constexpr std::uint32_t maxExports = 65536;
constexpr std::uint32_t maxNameLength = 1024;

// Bounds-checked reads from the laid-out image.
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
        out = static_cast<std::uint32_t>(image_[rva]) | static_cast<std::uint32_t>(image_[rva + 1]) << 8 |
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

std::string message(llvm::Error error) { return llvm::toString(std::move(error)); }

std::uint32_t roundUpToPage(std::uint64_t size) {
    return static_cast<std::uint32_t>((size + pageSize - 1) / pageSize * pageSize);
}

std::uint32_t permissionsOf(std::uint32_t characteristics) {
    std::uint32_t permissions = 0;
    if (characteristics & llvm::COFF::IMAGE_SCN_MEM_READ)
        permissions |= pageRead;
    if (characteristics & llvm::COFF::IMAGE_SCN_MEM_WRITE)
        permissions |= pageWrite;
    if (characteristics & llvm::COFF::IMAGE_SCN_MEM_EXECUTE)
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
        llvm::StringRef bytes(reinterpret_cast<const char*>(file_.data()), file_.size());
        auto object = llvm::object::COFFObjectFile::create(llvm::MemoryBufferRef(bytes, fileName_));
        if (!object)
            return fail(error, "not a PE file (" + message(object.takeError()) + ")");
        coff_ = object->get();
        return header(error) && layOut(error) && imports(error) && exports(error) &&
               fixups(error);
    }

  private:
    bool fail(std::string& error, const std::string& why) {
        error = fileName_ + ": " + why;
        return false;
    }

    bool header(std::string& error) {
        const llvm::object::pe32_header* pe = coff_->getPE32Header();
        if (pe == nullptr)
            return fail(error, "not a 32-bit PE image");
        if (coff_->getMachine() != llvm::COFF::IMAGE_FILE_MACHINE_I386)
            return fail(error, "not built for 32-bit x86");
        if (!(coff_->getCharacteristics() & llvm::COFF::IMAGE_FILE_DLL))
            return fail(error, "not a DLL");
        if (pe->SizeOfImage == 0 || pe->SizeOfImage > maxPeImageSize)
            return fail(error, "its image size is 0 or larger than 64 MiB");
        if (pe->ImageBase % 65536 != 0 || pe->SizeOfHeaders > pe->SizeOfImage ||
            pe->SizeOfHeaders > file_.size())
            return fail(error, "its image base or header size is malformed");
        if (coff_->getNumberOfSections() > maxSections)
            return fail(error, "it has more than 96 sections");
        out_.preferredBase = pe->ImageBase;
        out_.sizeOfImage = roundUpToPage(pe->SizeOfImage);
        out_.entryRva = pe->AddressOfEntryPoint;
        out_.headerSize = pe->SizeOfHeaders;
        if (out_.entryRva >= out_.sizeOfImage)
            return fail(error, "its entry point lies outside the image");
        return true;
    }

    // Copies the headers and each section to its place in the image.
    bool layOut(std::string& error) {
        out_.image.assign(out_.sizeOfImage, 0);
        std::memcpy(out_.image.data(), file_.data(), out_.headerSize);
        for (const llvm::object::SectionRef& ref : coff_->sections()) {
            const llvm::object::coff_section* s = coff_->getCOFFSection(ref);
            std::uint64_t rva = s->VirtualAddress;
            // Object files leave VirtualSize 0; images give it, and it may be less than the raw size.
            std::uint64_t size = s->VirtualSize != 0 ? s->VirtualSize : s->SizeOfRawData;
            std::string name(s->Name, strnlen(s->Name, sizeof s->Name));
            if (rva < out_.headerSize || rva + size > out_.sizeOfImage)
                return fail(error, "section " + name + " lies outside the image");
            std::uint64_t raw = std::min<std::uint64_t>(s->SizeOfRawData, size);
            if (raw > 0 && (s->PointerToRawData > file_.size() ||
                            raw > file_.size() - s->PointerToRawData))
                return fail(error, "section " + name + " runs past the end of the file");
            if (raw > 0)
                std::memcpy(out_.image.data() + rva, file_.data() + s->PointerToRawData, raw);
            out_.sections.push_back({name, static_cast<std::uint32_t>(rva),
                                     static_cast<std::uint32_t>(size),
                                     permissionsOf(s->Characteristics)});
        }
        return true;
    }

    const llvm::object::data_directory* directory(std::uint32_t index) {
        const llvm::object::data_directory* d = coff_->getDataDirectory(index);
        return d != nullptr && d->RelativeVirtualAddress != 0 && d->Size != 0 ? d : nullptr;
    }

    bool imports(std::string& error) {
        const auto* d = directory(llvm::COFF::IMPORT_TABLE);
        if (d == nullptr)
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
                return fail(error, "it imports from " + dll + " by ordinal, which is not supported");
            std::string function;
            if (!image.name(entry + 2, function))
                return fail(error, "an import name from " + dll + " is malformed");
            if (out_.imports.size() >= maxImports)
                return fail(error, "it has more than 4096 imports");
            out_.imports.push_back({dll, function, slots + 4 * i});
        }
    }

    bool exports(std::string& error) {
        const auto* d = directory(llvm::COFF::EXPORT_TABLE);
        if (d == nullptr)
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

    bool fixups(std::string& error) {
        const auto* d = directory(llvm::COFF::BASE_RELOCATION_TABLE);
        if (d == nullptr)
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
                if (type == llvm::COFF::IMAGE_REL_BASED_ABSOLUTE)
                    continue;
                if (type != llvm::COFF::IMAGE_REL_BASED_HIGHLOW)
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
    const llvm::object::COFFObjectFile* coff_ = nullptr;
};

} // namespace

bool readPeImage(const std::string& fileName, const std::vector<std::uint8_t>& file, PeImage& out,
                 std::string& error) {
    return PeReader(fileName, file, out).read(error);
}
