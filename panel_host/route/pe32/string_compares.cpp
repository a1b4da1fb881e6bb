#include "string_compares.h"

#include "emulated_process.h"
#include "hex_text.h"
#include "pe_image.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace {

// The first maxOperand bytes of the NUL-ended text at `address` (all of a
// shorter one), from memory the script may read; false when there is none.
bool readOperand(const X86Machine& machine, std::uint32_t address, std::string& text) {
    text.clear();
    char bytes[Comparison::maxOperand];
    while (address != 0 && text.size() < Comparison::maxOperand) {
        std::uint32_t toPageEnd = 0x1000 - address % 0x1000;
        auto length = static_cast<std::uint32_t>(
            std::min<std::size_t>(toPageEnd, Comparison::maxOperand - text.size()));
        if (!machine.allows(address, length, pageRead) || !machine.read(address, bytes, length))
            return false;
        const void* end = std::memchr(bytes, 0, length);
        text.append(bytes, end ? static_cast<const char*>(end) - bytes : length);
        if (end)
            return true;
        address += length;
    }
    return address != 0;
}

// A function's arguments as its first instruction sees them: the return
// address at ESP, the stack arguments above it, `this` in ECX (thiscall).
class EntryCall {
  public:
    explicit EntryCall(EmulatedProcess& process) : process_(process) {
        std::uint32_t registers[2] = {};
        process.machine().regs({X86Machine::esp, X86Machine::ecx}, registers);
        stack_ = registers[0];
        this_ = registers[1];
    }
    std::uint32_t arg(int n) const {
        std::uint32_t value = 0;
        process_.machine().read32(stack_ + 4 + 4 * static_cast<std::uint32_t>(n), value);
        return value;
    }
    std::uint32_t self() const { return this_; }
    // The text of a vesk_string object: its pointer lies after the vtable's.
    bool stringAt(std::uint32_t object, std::string& text) const {
        std::uint32_t pointer = 0;
        return object != 0 && process_.machine().read32(object + 4, pointer) &&
               readOperand(process_.machine(), pointer, text);
    }
    bool textAt(std::uint32_t address, std::string& text) const {
        return readOperand(process_.machine(), address, text);
    }
    void log(Comparison::Kind kind, const std::string& left, const std::string& right) const {
        process_.comparisons().add(kind, left, right);
    }

  private:
    EmulatedProcess& process_;
    std::uint32_t stack_ = 0, this_ = 0;
};

long long saturated(long long value) {
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value;
}

// The library's own readings of a text as a number: atoi's (white space, a
// sign, digits) and the first run of digits, both saturating.
int leadingInt(const std::string& text) {
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos)
        return 0;
    bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = saturated(value * 10 + (text[at] - '0'));
    return static_cast<int>(saturated(negative ? -value : value));
}

int firstDigits(const std::string& text) {
    std::size_t at = text.find_first_of("0123456789");
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = saturated(value * 10 + (text[at] - '0'));
    return static_cast<int>(value);
}

void stringEqualsText(const EntryCall& call) {
    std::string left, right;
    if (call.stringAt(call.arg(0), left) && call.textAt(call.arg(1), right))
        call.log(Comparison::equal, left, right);
}

void stringEqualsNumber(const EntryCall& call) {
    std::string left;
    if (call.stringAt(call.arg(0), left))
        call.log(Comparison::equal, left, std::to_string(static_cast<std::int32_t>(call.arg(1))));
}

void stringsDiffer(const EntryCall& call) {
    std::string left, right;
    if (call.stringAt(call.arg(0), left) && call.stringAt(call.arg(1), right))
        call.log(Comparison::equal, left, right);
}

void startsWith(const EntryCall& call) {
    std::string text, prefix;
    if (call.stringAt(call.self(), text) && call.stringAt(call.arg(0), prefix))
        call.log(Comparison::prefix, text, prefix);
}

void readsLeadingInt(const EntryCall& call) {
    std::string text;
    if (call.stringAt(call.self(), text))
        call.log(Comparison::conversion, text, std::to_string(leadingInt(text)));
}

void readsFirstDigits(const EntryCall& call) {
    std::string text;
    if (call.stringAt(call.self(), text))
        call.log(Comparison::conversion, text, std::to_string(firstDigits(text)));
}

// The library's comparing exports by their Microsoft-decorated names.
const std::map<std::string, void (*)(const EntryCall&)> comparingExports = {
    {"??8@YA_NABVvesk_string@@PBD@Z",
     stringEqualsText}, // operator==(const vesk_string&, const char*)
    {"??8@YA_NABVvesk_string@@H@Z", stringEqualsNumber}, // operator==(const vesk_string&, int)
    {"??9@YA_NABVvesk_string@@0@Z",
     stringsDiffer}, // operator!=(const vesk_string&, const vesk_string&)
    {"?startsWith@vesk_string@@QBE_NABV1@@Z", startsWith}, // vesk_string::startsWith
    {"?toInt@vesk_string@@QBEHXZ", readsLeadingInt},       // vesk_string::toInt
    {"??Bvesk_string@@QBEHXZ", readsLeadingInt},           // vesk_string::operator int
    {"?firstInt@vesk_string@@QBEHXZ", readsFirstDigits},   // vesk_string::firstInt
};

} // namespace

bool watchStringCompares(EmulatedProcess& process) {
    std::map<std::uint32_t, void (*)(const EntryCall&)> watched;
    for (const EmulatedProcess::Module& module : process.modules()) {
        if (lowerCase(module.name) != "vesk_string.dll")
            continue;
        for (const auto& [name, handler] : comparingExports) {
            auto found = module.exports.find(name);
            if (found != module.exports.end())
                watched[found->second] = handler;
        }
    }
    if (watched.empty())
        return false;
    std::vector<std::uint32_t> addresses;
    for (const auto& entry : watched)
        addresses.push_back(entry.first);
    return process.machine().watchEntries(
        addresses, [&process, watched = std::move(watched)](std::uint32_t address) {
            if (!process.comparisons().on() || process.comparisons().full())
                return;
            auto found = watched.find(address);
            if (found != watched.end())
                found->second(EntryCall(process));
        });
}
