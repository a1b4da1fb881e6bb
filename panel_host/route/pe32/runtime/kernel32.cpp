// kernel32.dll as panel scripts import it: only the debug output.
#include "runtime_access.h"
#include "runtime_dlls.h"

#include "emulated_process.h"

#include <iterator>

namespace {

std::uint32_t runOutputDebugStringA(const StubCall& call) {
    std::string text;
    if (textFor(call, "OutputDebugStringA", call.arg(0), text) && call.process().onDebugOutput)
        call.process().onDebugOutput(text);
    return 0;
}

const RuntimeFunction functions[] = {
    {"OutputDebugStringA", 4, runOutputDebugStringA},
};

} // namespace

const RuntimeDll kernel32Dll{"kernel32.dll", functions, std::size(functions)};
