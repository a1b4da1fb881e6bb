// A 32-bit Windows process in miniature on the CPU emulator: the DLLs of one
// panel script mapped with their protections, relocated where they collide,
// their imports bound to each other and to the host's runtime functions, a
// stack, a heap the host keeps the books of, and host stubs that emulated
// code can call. It calls emulated functions by the Microsoft conventions and
// checks that they keep them.
//
// Threads: one thread at a time. Calls do not nest: a stub handler never calls
// back into emulated code.
#ifndef EMULATED_PROCESS_H
#define EMULATED_PROCESS_H

#include "comparison_log.h"
#include "debug_id.h"
#include "emulated_heap.h"
#include "module_symbols.h"
#include "runtime_dll.h"
#include "x86_machine.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class EmulatedProcess;

// One call of a host stub, as the handler sees it.
class StubCall {
  public:
    StubCall(EmulatedProcess& process, std::uint32_t stackPointer)
        : process_(process), stackPointer_(stackPointer) {}
    // The n-th 32-bit stack argument, from 0.
    std::uint32_t arg(int n) const;
    // The address the stub returns to: the caller's call site.
    std::uint32_t caller() const;
    // That call site for people, with its source line and callers where symbols are.
    std::string callSite() const;
    EmulatedProcess& process() const { return process_; }

  private:
    EmulatedProcess& process_;
    std::uint32_t stackPointer_;
};

class EmulatedProcess {
  public:
    struct Module {
        std::string name;
        std::uint32_t base = 0;
        std::uint32_t size = 0;
        std::map<std::string, std::uint32_t> exports;              // name to address
        std::uint32_t entry = 0;                                   // 0: none
        std::vector<std::pair<std::uint32_t, std::uint32_t>> code; // executable sections: rva, size
        std::string path;                                          // the file it was loaded from
        std::optional<DebugId> debugId;                            // the PDB it names, if any
    };
    const std::vector<Module>& modules() const { return modules_; }
    struct CallResult {
        std::optional<std::string> fault;
        std::uint32_t eax = 0;
    };
    using StubHandler = std::function<std::uint32_t(const StubCall&)>;

    // Imports of the DLLs in `runtime` are served by their rows, never loaded from disk.
    explicit EmulatedProcess(RuntimeDlls runtime);

    // Loads the DLL at path, then the DLLs beside it that it imports, binds imports
    // and runs each entry point (dependencies first). False with every reason.
    bool loadLibrary(const std::string& path, std::string& error);
    const Module* mainModule() const { return modules_.empty() ? nullptr : &modules_.front(); }

    // An address that runs `handler` when called and then returns, popping `popBytes`.
    std::uint32_t addStub(const std::string& name, std::uint16_t popBytes, StubHandler handler);
    // Calls `function` with stack arguments (ECX = thisPointer for thiscall). The callee
    // must pop `popBytes` and keep EBX, ESI, EDI and EBP.
    CallResult call(std::uint32_t function, const std::vector<std::uint32_t>& args,
                    std::uint16_t popBytes, std::optional<std::uint32_t> thisPointer = {});

    // Where an address lies, for people: "PELDAN.dll+0x1a2b", "host stub malloc", or hex;
    // code of a DLL with its own PDB beside it adds " in FUNCTION (FILE:LINE)".
    std::string where(std::uint32_t address) const;
    // The same, then the chain of callers: the frames inlined there and the
    // return addresses found on the stack from `stackPointer` up, as
    // ", called from F (FILE:LINE), from G (FILE:LINE)". Callers only with symbols.
    // `returnAddress`: the address follows a call, whose line is the one told.
    std::string whereWithCallers(std::uint32_t address, std::uint32_t stackPointer,
                                 bool returnAddress = false) const;
    // The symbols of the module at `index` in modules(), looked for on first use.
    ModuleSymbols* symbolsOf(std::size_t index) const;

    // A text the emulated code gave, bounded; false when it runs into memory it may not read.
    bool readText(std::uint32_t address, std::size_t limit, std::string& out) const;
    // The same without a copy where it can: `text` points into the machine's
    // memory, or into `storage`; valid until the script runs again.
    bool textView(std::uint32_t address, std::size_t limit, std::string& storage,
                  std::string_view& text) const;

    // What stubs report: a breach that does not stop the run, and debug output.
    std::function<void(const std::string&)> onBreach;
    std::function<void(const std::string&)> onDebugOutput;
    void breach(const std::string& what) const;
    // From a stub: ends the current call as a fault.
    void fault(const std::string& what) { machine_.fault(what); }

    // After loading: remembers the process as it stands; rewind() puts the
    // memory, registers, heap and budget back, keeping the translated code.
    bool snapshot();
    bool rewind();

    // The comparisons of texts and numbers that the served runtime and the
    // string library's hooks report, once someone asked for them.
    ComparisonLog& comparisons() { return comparisons_; }

    X86Machine& machine() { return machine_; }
    const X86Machine& machine() const { return machine_; }
    EmulatedHeap& heap() { return heap_; }
    void setInstructionBudget(std::uint64_t budget) { budget_ = budget; }

    // Memory areas; the host's area is read-only to emulated code.
    static constexpr std::uint32_t stubBase = 0x00010000, stubAreaSize = 0x00010000;
    static constexpr std::uint32_t stackBase = 0x00100000, stackSize = 0x00100000;
    static constexpr std::uint32_t hostBase = 0x00400000, hostSize = 0x00400000;
    static constexpr std::uint32_t replyBase = 0x00800000, replySize = 0x00800000;
    static constexpr std::uint32_t heapBase = 0x01000000, heapSize = 0x04000000;
    static constexpr std::uint32_t firstImageBase = 0x10000000;
    static constexpr std::uint32_t stubSize = 8; // bytes of code a host stub takes

  private:
    struct Stub {
        std::string name;
        StubHandler handler;
    };
    struct LoadContext;

    bool loadModule(const std::string& folder, const std::string& fileName, LoadContext& context);
    bool mapImage(Module& module, const struct PeImage& image, std::string& error);
    std::uint32_t placeFor(std::uint32_t preferred, std::uint32_t size) const;
    std::optional<std::uint32_t> resolve(const std::string& dll, const std::string& function,
                                         const std::string& folder, LoadContext& context);
    void onTrap(std::uint32_t next);
    void onStub(std::uint32_t at);
    std::string describePlace(std::uint32_t address, std::uint32_t lineAt) const;
    const RuntimeDll* runtimeDll(const std::string& dll) const;

    RuntimeDlls runtime_;
    X86Machine machine_;
    EmulatedHeap heap_;
    ComparisonLog comparisons_;
    std::vector<Module> modules_;
    std::vector<Stub> stubs_;
    std::map<std::string, std::uint32_t> runtimeStubs_; // "dll!function" (lower-case dll)
    std::uint32_t stopAddress_ = stubBase;
    static constexpr std::uint64_t defaultBudget = 20000000;
    std::uint64_t budget_ = defaultBudget;
    EmulatedHeap::Books savedHeap_;
    bool snapshotTaken_ = false;
    bool ready_ = false;
    // Per module, in load order: its symbols once looked for (null: none).
    mutable std::vector<std::optional<std::shared_ptr<ModuleSymbols>>> symbols_;
};

#endif
