// Memory access for served runtime functions: each reads and writes only what
// the script may, and otherwise ends the script's call as a fault that names
// the function.
#ifndef RUNTIME_ACCESS_H
#define RUNTIME_ACCESS_H

#include <cstdint>
#include <string>
#include <vector>

class StubCall;
class X86Machine;

// Texts the runtime reads for the script are bounded; longer is a fault.
constexpr std::size_t maxRuntimeText = 1u << 20;

X86Machine& machineOf(const StubCall& call);
// Reads bytes the script may read, or ends the call as a fault naming the function.
bool readFor(const StubCall& call, const char* function, std::uint32_t address, std::uint32_t size,
             std::vector<std::uint8_t>& out);
bool writeFor(const StubCall& call, const char* function, std::uint32_t address, const void* data,
              std::uint32_t size);
bool textFor(const StubCall& call, const char* function, std::uint32_t address, std::string& out);

#endif
