// A 32-bit Windows DLL read into the form a loader needs: its image laid out
// as in memory, the protections of its pages, what it imports and exports,
// and where it must be fixed up when it cannot sit at its preferred base.
//
// The file is untrusted: every header, the section table and every table
// inside the image is read through bounds checks against the file or the
// image. Anything out of bounds or unsupported is an error with a reason.
#ifndef PE_IMAGE_H
#define PE_IMAGE_H

#include "debug_id.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum PagePermission : std::uint32_t { pageRead = 1, pageWrite = 2, pageExecute = 4 };

struct PeSection {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t size = 0; // in memory
    std::uint32_t permissions = 0;
};

struct PeImport {
    std::string dll;           // as written in the image
    std::string function;      // imports by ordinal are refused
    std::uint32_t slotRva = 0; // its import address table slot
};

struct PeImage {
    std::string fileName;
    std::uint32_t preferredBase = 0;
    std::uint32_t sizeOfImage = 0; // a whole number of 4 KiB pages
    std::uint32_t entryRva = 0;    // 0: no entry point
    std::uint32_t headerSize = 0;
    std::vector<std::uint8_t> image; // sizeOfImage bytes, as mapped
    std::vector<PeSection> sections;
    std::vector<PeImport> imports;
    std::map<std::string, std::uint32_t> exports; // name to rva
    std::vector<std::uint32_t> fixups;            // rvas of 32-bit absolute addresses
    bool hasDebugId = false;                      // a CodeView record names a PDB
    DebugId debugId;
};

// Largest file and image this host loads.
constexpr std::uint32_t maxPeFileSize = 64u << 20;
constexpr std::uint32_t maxPeImageSize = 64u << 20;

// Reads a DLL's bytes; false with a reason naming fileName.
bool readPeImage(const std::string& fileName, const std::vector<std::uint8_t>& file, PeImage& out,
                 std::string& error);

#endif
