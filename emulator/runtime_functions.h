// The C runtime and Win32 functions that panel scripts may import, served by
// panel-host itself. One row per function: supporting a new import is one row.
#ifndef RUNTIME_FUNCTIONS_H
#define RUNTIME_FUNCTIONS_H

#include <cstdint>
#include <string>

class StubCall;

struct RuntimeFunction {
    const char* dll;        // lower-case
    const char* name;
    std::uint16_t popBytes; // 0 for cdecl; the argument bytes for stdcall
    std::uint32_t (*run)(const StubCall& call);
};

// The row for dll!name (dll in any case), or null.
const RuntimeFunction* findRuntimeFunction(const std::string& dll, const std::string& name);
// Whether the host serves this DLL (so nothing of that name is loaded from disk).
bool isRuntimeDll(const std::string& dll);

#endif
