// ucrtbase.dll as panel scripts import it: the heap with the host's books, the
// memory and string functions, strtol and the formatted print.
#include "runtime_access.h"
#include "runtime_dlls.h"
#include "runtime_format.h"

#include "emulated_process.h"
#include "hex_text.h"
#include "pe_image.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

std::uint32_t runMalloc(const StubCall& call) {
    return call.process().heap().allocate(call.arg(0), call.caller());
}

std::uint32_t runFree(const StubCall& call) {
    std::uint32_t address = call.arg(0);
    if (address == 0)
        return 0;
    EmulatedProcess& process = call.process();
    EmulatedHeap::Block block;
    switch (process.heap().release(address, block)) {
    case EmulatedHeap::FreeResult::freed:
        break;
    case EmulatedHeap::FreeResult::neverGiven:
        process.breach("free of " + hexAddress(address) + ", which malloc did not give out, at " +
                       call.callSite());
        break;
    case EmulatedHeap::FreeResult::freedBefore:
        process.breach("double free of the block at " + hexAddress(address) + " allocated at " +
                       process.where(block.site) + ", at " + call.callSite());
        break;
    case EmulatedHeap::FreeResult::guardBroken:
        process.breach("write past the end of the " + std::to_string(block.size) +
                       "-byte block allocated at " + process.where(block.site) +
                       ", found when it was freed at " + call.callSite());
        break;
    }
    return 0;
}

// Both ranges in the machine's own memory: moved in place; else copied through a buffer.
std::uint32_t copyBytes(const StubCall& call, const char* function) {
    std::uint32_t to = call.arg(0), from = call.arg(1), size = call.arg(2);
    const std::uint8_t* source = bytesInPlace(call, from, size);
    std::uint8_t* target = source != nullptr ? writableInPlace(call, to, size) : nullptr;
    if (target != nullptr) {
        std::memmove(target, source, size);
        return to;
    }
    std::vector<std::uint8_t> bytes;
    if (readFor(call, function, from, size, bytes))
        writeFor(call, function, to, bytes.data(), size);
    return to;
}

std::uint32_t runMemcpy(const StubCall& call) {
    return copyBytes(call, "memcpy");
}
std::uint32_t runMemmove(const StubCall& call) {
    return copyBytes(call, "memmove");
}

std::uint32_t runMemchr(const StubCall& call) {
    std::uint32_t at = call.arg(0), size = call.arg(2);
    auto wanted = static_cast<std::uint8_t>(call.arg(1));
    if (const std::uint8_t* in = bytesInPlace(call, at, size)) {
        const void* found = size == 0 ? nullptr : std::memchr(in, wanted, size);
        return found == nullptr
                   ? 0
                   : at + static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(found) - in);
    }
    std::vector<std::uint8_t> bytes;
    if (!readFor(call, "memchr", at, size, bytes))
        return 0;
    auto found = std::find(bytes.begin(), bytes.end(), wanted);
    return found == bytes.end() ? 0 : at + static_cast<std::uint32_t>(found - bytes.begin());
}

std::uint32_t orderOf(int order) {
    return static_cast<std::uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0);
}

// Both operands go to the comparison log (which keeps them only while validate reads it).
void logCompared(const StubCall& call, Comparison::Kind kind, std::string_view left,
                 std::string_view right) {
    call.process().comparisons().add(kind, left, right);
}

std::string_view asText(const std::uint8_t* bytes, std::uint32_t size) {
    return {reinterpret_cast<const char*>(bytes),
            std::min<std::size_t>(size, Comparison::maxOperand)};
}

std::uint32_t runMemcmp(const StubCall& call) {
    std::uint32_t size = call.arg(2);
    const std::uint8_t* inA = bytesInPlace(call, call.arg(0), size);
    const std::uint8_t* inB = bytesInPlace(call, call.arg(1), size);
    std::vector<std::uint8_t> a, b;
    if ((inA == nullptr || inB == nullptr) && (!readFor(call, "memcmp", call.arg(0), size, a) ||
                                               !readFor(call, "memcmp", call.arg(1), size, b)))
        return 0;
    if (inA == nullptr || inB == nullptr) {
        inA = a.data();
        inB = b.data();
    }
    if (size == 0)
        return 0;
    logCompared(call, Comparison::equal, asText(inA, size), asText(inB, size));
    return orderOf(std::memcmp(inA, inB, size));
}

std::uint32_t runStrlen(const StubCall& call) {
    std::string storage;
    std::string_view text;
    return textViewFor(call, "strlen", call.arg(0), storage, text)
               ? static_cast<std::uint32_t>(text.size())
               : 0;
}

std::uint32_t runStrchr(const StubCall& call) {
    std::uint32_t at = call.arg(0);
    char wanted = static_cast<char>(call.arg(1));
    std::string storage;
    std::string_view text;
    if (!textViewFor(call, "strchr", at, storage, text))
        return 0;
    if (wanted == '\0')
        return at + static_cast<std::uint32_t>(text.size());
    std::size_t found = text.find(wanted);
    return found == std::string_view::npos ? 0 : at + static_cast<std::uint32_t>(found);
}

// Texts hold no NUL, so comparing them as views orders them as strcmp does.
std::uint32_t runStrcmp(const StubCall& call) {
    std::string storageA, storageB;
    std::string_view a, b;
    if (!textViewFor(call, "strcmp", call.arg(0), storageA, a) ||
        !textViewFor(call, "strcmp", call.arg(1), storageB, b))
        return 0;
    logCompared(call, Comparison::equal, a, b);
    return orderOf(a.compare(b));
}

// At most `most` bytes of the text at `address`, up to its NUL: strncmp reads
// no further, so a text cut at a page's end is no fault when `most` stops it.
bool boundedTextFor(const StubCall& call, const char* function, std::uint32_t address,
                    std::uint32_t most, std::string& out) {
    out.clear();
    std::vector<std::uint8_t> chunk;
    while (out.size() < most) {
        std::uint32_t toPageEnd = 0x1000 - address % 0x1000;
        auto length = static_cast<std::uint32_t>(
            std::min<std::size_t>({toPageEnd, most - out.size(), maxRuntimeText}));
        if (!readFor(call, function, address, length, chunk))
            return false;
        auto end = std::find(chunk.begin(), chunk.end(), std::uint8_t{0});
        out.append(chunk.begin(), end);
        if (end != chunk.end())
            return true;
        if (out.size() >= maxRuntimeText) {
            call.process().fault(std::string(function) + ": a text longer than " +
                                 std::to_string(maxRuntimeText) + " bytes");
            return false;
        }
        address += length;
    }
    return true;
}

std::uint32_t runStrncmp(const StubCall& call) {
    std::uint32_t most = call.arg(2);
    std::string a, b;
    if (most == 0 || !boundedTextFor(call, "strncmp", call.arg(0), most, a) ||
        !boundedTextFor(call, "strncmp", call.arg(1), most, b))
        return 0;
    logCompared(call, Comparison::equal, a, b);
    return orderOf(a.compare(b));
}

// strtol with a 32-bit long: out-of-range values saturate, as on Windows.
std::uint32_t runStrtol(const StubCall& call) {
    std::uint32_t at = call.arg(0), end = call.arg(1);
    int base = static_cast<int>(call.arg(2));
    std::string text;
    if (!textFor(call, "strtol", at, text))
        return 0;
    if (base < 0 || base == 1 || base > 36) {
        if (end != 0) {
            std::uint32_t start = at;
            writeFor(call, "strtol", end, &start, 4);
        }
        return 0;
    }
    char* stop = nullptr;
    long long value = std::strtoll(text.c_str(), &stop, base);
    value = std::clamp<long long>(value, INT32_MIN, INT32_MAX);
    logCompared(call, Comparison::conversion, text, std::to_string(value));
    if (end != 0) {
        std::uint32_t stopAddress = at + static_cast<std::uint32_t>(stop - text.c_str());
        writeFor(call, "strtol", end, &stopAddress, 4);
    }
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

std::uint32_t runPurecall(const StubCall& call) {
    call.process().fault("pure virtual function called from " + call.callSite());
    return 0;
}

// __stdio_common_vsprintf(options (two words), buffer, count, format, locale, va_list).
std::uint32_t runVsprintf(const StubCall& call) {
    std::uint32_t options = call.arg(0), buffer = call.arg(2), count = call.arg(3);
    std::uint32_t formatAt = call.arg(4), list = call.arg(6);
    std::string format;
    if (!textFor(call, "__stdio_common_vsprintf", formatAt, format))
        return 0;
    std::string why;
    std::optional<std::string> text = formatWithArguments(
        format,
        [&](std::uint32_t n, std::uint32_t& value) {
            return machineOf(call).allows(list + 4 * n, 4, pageRead) &&
                   machineOf(call).read32(list + 4 * n, value);
        },
        [&](std::uint32_t address, std::string& out) {
            return call.process().readText(address, maxRuntimeText, out);
        },
        why);
    if (!text) {
        call.process().fault("__stdio_common_vsprintf: " + why);
        return 0;
    }
    auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text->size(), INT32_MAX));
    if (buffer == 0 || count == 0)
        return length;
    bool standard = (options & 2) != 0; // snprintf: cut, always terminate, return the full length
    std::uint32_t kept = std::min(length, count - 1);
    std::string out = text->substr(0, kept);
    if (!writeFor(call, "__stdio_common_vsprintf", buffer, out.c_str(), kept + 1))
        return 0;
    return standard || length < count ? length : static_cast<std::uint32_t>(-1);
}

const RuntimeFunction functions[] = {
    {"malloc", 0, runMalloc},
    {"free", 0, runFree},
    {"memcpy", 0, runMemcpy},
    {"memmove", 0, runMemmove},
    {"memchr", 0, runMemchr},
    {"memcmp", 0, runMemcmp},
    {"strchr", 0, runStrchr},
    {"strcmp", 0, runStrcmp},
    {"strncmp", 0, runStrncmp},
    {"strlen", 0, runStrlen},
    {"strtol", 0, runStrtol},
    {"_purecall", 0, runPurecall},
    {"__stdio_common_vsprintf", 0, runVsprintf},
};

} // namespace

const RuntimeDll ucrtbaseDll{"ucrtbase.dll", functions, std::size(functions)};
