// Memory access for served runtime functions: each reads and writes only what
// the script may, and otherwise ends the script's call as a fault that names
// the function.
#ifndef RUNTIME_ACCESS_H
#define RUNTIME_ACCESS_H

#include <cstdint>
#include <string>
#include <string_view>
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
// The same without a copy where the text lies in memory the machine owns:
// `text` points there, or into `storage`.
bool textViewFor(const StubCall& call, const char* function, std::uint32_t address,
                 std::string& storage, std::string_view& text);
// Bytes the script may read (or write, with `writable`), in place where the
// machine owns them all; null where they must be copied.
const std::uint8_t* bytesInPlace(const StubCall& call, std::uint32_t address, std::uint32_t size);
std::uint8_t* writableInPlace(const StubCall& call, std::uint32_t address, std::uint32_t size);

#endif
