// The PDB container's reader on any bytes, as a file (it reads by seeking):
// it must answer with a GUID and age or a reason, never read out of bounds.
#include "debug_id.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/fuzz-pdb-" + std::to_string(getpid()) + ".pdb";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    std::string why;
    std::optional<DebugId> id = readPdbDebugId(path, why);
    if (!id && why.empty())
        std::abort();
    return 0;
}
