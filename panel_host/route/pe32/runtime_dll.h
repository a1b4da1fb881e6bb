// A DLL whose functions panel-host serves itself instead of loading it from
// disk (the C runtime, kernel32). The process binds imports of such a DLL to
// host stubs made from its rows; which DLLs are served is chosen by whoever
// builds the process, so the loader knows no function by name.
#ifndef RUNTIME_DLL_H
#define RUNTIME_DLL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class StubCall;

// One served function: a row of its DLL's table. Runs on the emulating thread,
// inside the script's call; it may fault the call through the process.
struct RuntimeFunction {
    const char* name;
    std::uint16_t popBytes; // 0 for cdecl; the argument bytes for stdcall
    std::uint32_t (*run)(const StubCall& call);
};

struct RuntimeDll {
    const char* name; // lower-case, as the import names it ("ucrtbase.dll")
    const RuntimeFunction* functions;
    std::size_t count;

    // The row for `function`, or null.
    const RuntimeFunction* find(const std::string& function) const {
        for (std::size_t i = 0; i < count; ++i)
            if (function == functions[i].name)
                return &functions[i];
        return nullptr;
    }
};

// The served DLLs, each static for the life of the program.
using RuntimeDlls = std::vector<const RuntimeDll*>;

#endif
