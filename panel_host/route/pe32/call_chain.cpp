// Where emulated code was, for people: the module and offset, then, for a DLL
// with its own PDB, the function and source line and the chain of callers.
// The DLLs are built without frame pointers, so callers are found as crash
// reporters find them: words on the stack that point just past a call
// instruction in a module's code. A call whose target is known (direct, or
// through an import slot) must lead into the function the frame below is
// in, which rejects most stale words; a call through a register (a vtable
// call) cannot be checked, and is weighed as whereWithCallers says.
#include "emulated_process.h"
#include "hex_text.h"

namespace {

constexpr std::uint32_t maxCallers = 16;
constexpr std::uint32_t maxStackWords = 16384; // 64 KiB of stack looked through

struct CodePlace {
    std::size_t module = 0;
    std::uint32_t offset = 0;
};

std::optional<CodePlace> codePlace(const EmulatedProcess& process, std::uint32_t address) {
    const auto& modules = process.modules();
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const EmulatedProcess::Module& module = modules[i];
        if (address < module.base || address - module.base >= module.size)
            continue;
        std::uint32_t offset = address - module.base;
        for (const auto& [rva, size] : module.code)
            if (offset >= rva && offset - rva < size)
                return CodePlace{i, offset};
        return std::nullopt;
    }
    return std::nullopt;
}

// The outermost function of the frames at an address: the one its code belongs to.
std::string owningFunction(const SymbolizerProcess::Frames& frames) {
    return frames.empty() ? std::string() : frames.back().function;
}

std::uint32_t le32(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// The call instruction that returns to an address: none, or one whose target
// is known (a direct call, or one through an import slot), or an indirect one
// whose target hangs on a register (a vtable call, say).
struct CallBefore {
    enum Kind { none, known, unknown } kind = none;
    std::uint32_t target = 0;
};

CallBefore callBefore(const EmulatedProcess& process, std::uint32_t returnAddress) {
    std::uint8_t code[7];
    if (returnAddress < 7 || !process.machine().read(returnAddress - 7, code, sizeof code))
        return {};
    if (code[2] == 0xe8) // call rel32
        return {CallBefore::known, returnAddress + le32(code + 3)};
    if (code[1] == 0xff && code[2] == 0x15) { // call [slot]
        std::uint32_t target = 0;
        if (process.machine().read32(le32(code + 3), target))
            return {CallBefore::known, target};
        return {};
    }
    // The other encodings of FF /2, by their length.
    for (int length = 2; length <= 7; ++length) {
        const std::uint8_t* at = code + 7 - length;
        std::uint8_t modrm = at[1];
        if (at[0] != 0xff || ((modrm >> 3) & 7) != 2)
            continue;
        int mod = modrm >> 6, rm = modrm & 7;
        int displacement = mod == 1 ? 1 : 0;
        if (mod == 2 || (mod == 0 && rm == 5))
            displacement = 4;
        int expected = 2 + (mod != 3 && rm == 4 ? 1 : 0) + displacement; // opcode, ModRM, SIB
        if (expected == length)
            return {CallBefore::unknown, 0};
    }
    return {};
}

struct ChainFrame {
    std::string function;           // the function the code belongs to
    std::vector<std::string> lines; // its source frames, innermost first
    bool tentative;                 // reached through a call whose target is not known
};

// The last frame is right: the tentative frames just below it go (see above).
void confirmLast(std::vector<ChainFrame>& chain) {
    if (chain.empty())
        return;
    std::size_t last = chain.size() - 1, first = last;
    while (first > 0 && chain[first - 1].tentative)
        --first;
    chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(first),
                chain.begin() + static_cast<std::ptrdiff_t>(last));
    for (ChainFrame& frame : chain)
        frame.tentative = false;
}

} // namespace

ModuleSymbols* EmulatedProcess::symbolsOf(std::size_t index) const {
    if (index >= modules_.size())
        return nullptr;
    if (symbols_.size() < modules_.size())
        symbols_.resize(modules_.size());
    std::optional<std::shared_ptr<ModuleSymbols>>& slot = symbols_[index];
    if (!slot) {
        const Module& module = modules_[index];
        std::string why;
        slot = module.debugId ? ModuleSymbols::find(module.path, *module.debugId, why) : nullptr;
    }
    return slot->get();
}

std::string EmulatedProcess::where(std::uint32_t address) const {
    return describePlace(address, address);
}

// `lineAt` is the address whose source line is told: the address itself, or,
// for a return address, the call just before it.
std::string EmulatedProcess::describePlace(std::uint32_t address, std::uint32_t lineAt) const {
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        const Module& module = modules_[i];
        if (address < module.base || address - module.base >= module.size)
            continue;
        std::string at = module.name + "+" + hexOffset(address - module.base);
        std::optional<CodePlace> place = codePlace(*this, lineAt);
        ModuleSymbols* symbols = place ? symbolsOf(place->module) : nullptr;
        if (symbols == nullptr)
            return at;
        const SymbolizerProcess::Frames& frames = symbols->framesAt(place->offset);
        return frames.empty() ? at : at + " in " + describeFrame(frames.front());
    }
    if (address >= stubBase && address - stubBase < stubSize * stubs_.size())
        return "host stub " + stubs_[(address - stubBase) / stubSize].name;
    return hexAddress(address);
}

std::string EmulatedProcess::whereWithCallers(std::uint32_t address, std::uint32_t stackPointer,
                                              bool returnAddress) const {
    std::uint32_t lineAt = returnAddress ? address - 1 : address;
    std::string text = describePlace(address, lineAt);
    std::vector<std::string> callers;
    std::optional<CodePlace> place = codePlace(*this, lineAt);
    ModuleSymbols* symbols = place ? symbolsOf(place->module) : nullptr;
    if (symbols == nullptr)
        return text;
    SymbolizerProcess::Frames frames = symbols->framesAt(place->offset);
    for (std::size_t i = 1; i < frames.size(); ++i)
        callers.push_back(describeFrame(frames[i]));
    // Callers whose call hangs on a register stay tentative until a known
    // call above them leads into their function; one that leads lower down
    // shows them stale, and they are dropped. Of tentative callers in a row,
    // only the one a known call leads into is kept: the others are more often
    // stale words in its frame than a second call through a register.
    std::vector<ChainFrame> chain{{owningFunction(frames), {}, false}};
    std::uint32_t top = stackBase + stackSize;
    for (std::uint32_t at = stackPointer, words = 0;
         at >= stackBase && at + 4 <= top && words < maxStackWords && chain.size() <= maxCallers;
         at += 4, ++words) {
        std::uint32_t value = 0;
        if (!machine_.read32(at, value))
            break;
        if (value == stopAddress_)
            break; // the host's own call: the script's callback is the last caller
        std::optional<CodePlace> caller = codePlace(*this, value);
        ModuleSymbols* callerSymbols = caller ? symbolsOf(caller->module) : nullptr;
        CallBefore call = callerSymbols ? callBefore(*this, value) : CallBefore{};
        if (call.kind == CallBefore::none)
            continue;
        // The return address is past the call; the call itself is the line that called.
        SymbolizerProcess::Frames callFrames = callerSymbols->framesAt(caller->offset - 1);
        ChainFrame frame{owningFunction(callFrames), {}, call.kind == CallBefore::unknown};
        for (const SourceFrame& source : callFrames)
            frame.lines.push_back(describeFrame(source));
        if (call.kind == CallBefore::known) {
            std::optional<CodePlace> callee = codePlace(*this, call.target);
            ModuleSymbols* calleeSymbols = callee ? symbolsOf(callee->module) : nullptr;
            std::string target =
                calleeSymbols ? owningFunction(calleeSymbols->framesAt(callee->offset)) : "";
            std::size_t keep = chain.size();
            while (keep > 0 && chain[keep - 1].function != target && chain[keep - 1].tentative)
                --keep;
            if (keep == 0 || chain[keep - 1].function != target)
                continue; // a stale word: it called none of the frames below
            chain.resize(keep);
            confirmLast(chain);
        }
        chain.push_back(std::move(frame));
    }
    // The topmost caller is the script's callback, which the host called.
    confirmLast(chain);
    for (std::size_t i = 1; i < chain.size(); ++i)
        for (const std::string& line : chain[i].lines)
            callers.push_back(line);
    for (std::size_t i = 0; i < callers.size(); ++i)
        text += (i == 0 ? ", called from " : ", from ") + callers[i];
    return text;
}

std::string StubCall::callSite() const {
    return process_.whereWithCallers(caller(), stackPointer_ + 4, true);
}
