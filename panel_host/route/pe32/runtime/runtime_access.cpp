#include "runtime_access.h"

#include "emulated_process.h"
#include "hex_text.h"
#include "pe_image.h"

namespace {
constexpr std::uint32_t maxCopy = 64u << 20;
}

X86Machine& machineOf(const StubCall& call) {
    return call.process().machine();
}

bool readFor(const StubCall& call, const char* function, std::uint32_t address, std::uint32_t size,
             std::vector<std::uint8_t>& out) {
    out.resize(size);
    if (size <= maxCopy && machineOf(call).allows(address, size, pageRead) &&
        machineOf(call).read(address, out.data(), size))
        return true;
    call.process().fault(std::string(function) + " read " + std::to_string(size) + " bytes at " +
                         hexAddress(address) + ", which the script may not read");
    return false;
}

bool writeFor(const StubCall& call, const char* function, std::uint32_t address, const void* data,
              std::uint32_t size) {
    if (machineOf(call).allows(address, size, pageWrite) &&
        machineOf(call).write(address, data, size))
        return true;
    call.process().fault(std::string(function) + " wrote " + std::to_string(size) + " bytes at " +
                         hexAddress(address) + ", which the script may not write");
    return false;
}

namespace {
void textFault(const StubCall& call, const char* function, std::uint32_t address) {
    call.process().fault(std::string(function) + " read a text at " + hexAddress(address) +
                         " that runs into memory the script may not read");
}
} // namespace

bool textFor(const StubCall& call, const char* function, std::uint32_t address, std::string& out) {
    if (call.process().readText(address, maxRuntimeText, out))
        return true;
    textFault(call, function, address);
    return false;
}

bool textViewFor(const StubCall& call, const char* function, std::uint32_t address,
                 std::string& storage, std::string_view& text) {
    if (call.process().textView(address, maxRuntimeText, storage, text))
        return true;
    textFault(call, function, address);
    return false;
}

const std::uint8_t* bytesInPlace(const StubCall& call, std::uint32_t address, std::uint32_t size) {
    return size <= maxCopy ? machineOf(call).ownedBytes(address, size, pageRead) : nullptr;
}

std::uint8_t* writableInPlace(const StubCall& call, std::uint32_t address, std::uint32_t size) {
    return machineOf(call).ownedBytes(address, size, pageWrite);
}
