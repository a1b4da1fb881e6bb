// The DLL reader on any bytes: it must answer with an image or a reason, and
// an image it accepts must hold together (every table inside the image).
#include "pe_image.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file(data, data + size);
    PeImage image;
    std::string error;
    if (!readPeImage("fuzz.dll", file, image, error))
        return error.empty() ? (std::abort(), 0) : 0;
    if (image.image.size() != image.sizeOfImage || image.entryRva >= image.sizeOfImage)
        std::abort();
    for (std::uint32_t rva : image.fixups)
        if (rva > image.sizeOfImage - 4)
            std::abort();
    for (const PeImport& import : image.imports)
        if (import.slotRva > image.sizeOfImage - 4)
            std::abort();
    for (const PeSection& s : image.sections)
        if (s.rva + static_cast<std::uint64_t>(s.size) > image.sizeOfImage)
            std::abort();
    return 0;
}
