// Which PDB describes a DLL: the GUID and age the linker wrote into both the
// DLL's CodeView record and the PDB's information stream. A PDB describes the
// DLL only when both agree; any other is a different build's.
#ifndef DEBUG_ID_H
#define DEBUG_ID_H

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

struct DebugId {
    std::uint8_t guid[16] = {};
    std::uint32_t age = 0;
    std::string pdbName; // as the DLL names it (often a file name alone); empty in a PDB's own

    bool sameBuild(const DebugId& other) const {
        return age == other.age && std::memcmp(guid, other.guid, sizeof guid) == 0;
    }
};

// A PDB file's GUID and age, read from its MSF container's information stream
// (stream 1). The file is untrusted: every block number and size is checked.
// Nothing, with a reason, when the file is not a PDB or is malformed.
std::optional<DebugId> readPdbDebugId(const std::string& path, std::string& why);

#endif
