// A 32-bit x86 CPU with its memory, on the Unicorn emulator. The host maps
// memory, reads and writes it regardless of protection, and runs code until
// it returns to a stop address, faults, or spends its instruction budget.
// Code reaches the host through stubs: the host's handler runs before each
// instruction of the stub area, inside the emulator's run, reads the stack and
// sets registers; the stub's own `ret` then returns to the caller. (A trap
// through an interrupt costs a trip out of the translated code and back.)
//
// Memory that can hold no code (every mapping without execute permission) is
// owned by the machine and mapped into the emulator by pointer: the host reads
// and writes it directly, without the emulator's write path, which would
// otherwise re-protect read-only pages and look for translated code to throw
// away on every write. Executable memory goes through the emulator, so a host
// write there still invalidates what was translated from it.
//
// Threads: one thread at a time; handlers run on the thread that called run().
#ifndef X86_MACHINE_H
#define X86_MACHINE_H

#include "block_table.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct uc_struct;

class X86Machine {
  public:
    enum Register { eax, ebx, ecx, edx, esi, edi, ebp, esp, eip };

    struct Stop {
        enum Kind { returned, fault, budgetSpent } kind = returned;
        std::string what;     // for a fault: what went wrong
        std::uint32_t at = 0; // the instruction address where it stopped
    };
    // Called for `int 0x80`; `next` is the address after the instruction.
    using TrapHandler = std::function<void(std::uint32_t next)>;
    // Called before an instruction of the stub area runs, with its address.
    using StubAreaHandler = std::function<void(std::uint32_t address)>;

    X86Machine();
    ~X86Machine();
    X86Machine(const X86Machine&) = delete;
    X86Machine& operator=(const X86Machine&) = delete;

    // Maps [address, address + size) with pageRead/pageWrite/pageExecute; page aligned.
    bool map(std::uint32_t address, std::uint32_t size, std::uint32_t permissions,
             std::string& error);
    bool mapped(std::uint32_t address, std::uint32_t size) const;
    // Whether the emulated code may access the whole range with these permissions.
    bool allows(std::uint32_t address, std::uint64_t size, std::uint32_t permissions) const;

    // Host access: ignores protection, fails on unmapped memory.
    bool read(std::uint32_t address, void* out, std::size_t size) const;
    bool write(std::uint32_t address, const void* data, std::size_t size);
    bool read32(std::uint32_t address, std::uint32_t& value) const;
    // The machine's own bytes at [address, address + size) when one region it
    // owns holds them all and lets the script access them with `permissions`;
    // null otherwise (code, unmapped or mixed ranges: use read and write).
    std::uint8_t* ownedBytes(std::uint32_t address, std::uint64_t size,
                             std::uint32_t permissions) const;
    // The same from `address` to the end of its owned region; `available` says how far.
    std::uint8_t* ownedTail(std::uint32_t address, std::uint32_t permissions,
                            std::uint32_t& available) const;
    bool write32(std::uint32_t address, std::uint32_t value);

    std::uint32_t reg(Register r) const;
    void setReg(Register r, std::uint32_t value);
    // Several at once, in one call to the emulator; at most eight.
    void setRegs(std::initializer_list<std::pair<Register, std::uint32_t>> values);
    void regs(std::initializer_list<Register> which, std::uint32_t* out) const;

    void onTrap(TrapHandler handler) { trap_ = std::move(handler); }
    // Hands every instruction in [begin, end) to `handler` before it runs.
    // Call before code there runs; once.
    bool stubArea(std::uint32_t begin, std::uint32_t end, StubAreaHandler handler);
    // From a trap handler: ends the run as a fault.
    void fault(const std::string& what);

    // Runs from `start` until the code reaches `until`, within `budget`
    // instructions (0: no limit). The budget is charged a translated block at
    // a time; when the next block would overspend it, the rest of the run
    // counts instruction by instruction, so it stops exactly where it runs out.
    // Once code the script can write has run, every run counts that way.
    Stop run(std::uint32_t start, std::uint32_t until, std::uint64_t budget);

    // Remembers the writable memory and the registers as they are now;
    // restore() puts them back, keeping what the emulator translated.
    bool snapshot();
    bool restore();

    // Remembers every block that starts in [begin, end) when it first runs:
    // its address and size in bytes.
    void watchBlocks(std::uint32_t begin, std::uint32_t end);
    const std::unordered_map<std::uint32_t, std::uint32_t>& blocksRun() const { return blocks_; }
    // How often each watched block ran since the last startCountingHits(),
    // 255 at most: (address, count).
    void startCountingHits();
    std::vector<std::pair<std::uint32_t, std::uint8_t>> hitCounts() const;

    // Remembers the values that code in [begin, end) compares (an x86 `cmp`,
    // as the emulator translates it): both operands, at most
    // maxComparedValues distinct ones, in the order first seen. Code already
    // translated is translated anew, so every compare is seen.
    void logCompares(std::uint32_t begin, std::uint32_t end);
    static constexpr std::size_t maxComparedValues = 256;
    const std::vector<std::uint32_t>& comparedValues() const { return compared_; }
    // Also keeps the two operands of each logged compare in [begin, end) as a
    // pair, each pair once, a few a site (a loop's counter says nothing new),
    // at most maxComparedPairs until forgetComparedPairs(); takeComparedPairs()
    // gives those kept since it was called last.
    void pairCompares(std::uint32_t begin, std::uint32_t end);
    static constexpr std::size_t maxComparedPairs = 256, maxPairsPerSite = 4;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> takeComparedPairs();
    void forgetComparedPairs();

    // Calls `handler` before the instruction at each of `addresses` runs (a
    // function's entry, say). Code already translated is translated anew.
    using EntryHandler = std::function<void(std::uint32_t address)>;
    bool watchEntries(const std::vector<std::uint32_t>& addresses, EntryHandler handler);

    // Counting every instruction (slow; for measurements).
    void countInstructions(bool on);
    std::uint64_t instructionsCounted() const { return counted_; }

  private:
    static constexpr int maxBatch = 8;
    struct Region {
        std::uint32_t size;
        std::uint32_t permissions;
        std::uint8_t* host; // the bytes, for memory the machine owns; null for code
    };
    // The region holding [address, address + size) whole, or null.
    const Region* regionHolding(std::uint32_t address, std::size_t size,
                                std::uint32_t& offset) const;
    static void onInterrupt(uc_struct* uc, std::uint32_t number, void* self);
    static bool onBadAccess(uc_struct* uc, int type, std::uint64_t address, int size,
                            std::int64_t value, void* self);
    static void onInstruction(uc_struct* uc, std::uint64_t address, std::uint32_t size, void* self);
    static void onBlock(uc_struct* uc, std::uint64_t address, std::uint32_t size, void* self);
    static void onStubInstruction(uc_struct* uc, std::uint64_t address, std::uint32_t size,
                                  void* self);
    static void onBudgetedInstruction(uc_struct* uc, std::uint64_t address, std::uint32_t size,
                                      void* self);
    // Takes the block's instructions from the budget; false (and the run
    // stopped before the block) when they are unknown or more than is left.
    bool chargeBlock(std::uint32_t address, std::uint32_t size, BlockTable::Entry& entry);
    std::uint32_t instructionsInBlock(std::uint32_t address, std::uint32_t size,
                                      BlockTable::Entry& entry);
    // Spends what is left of the budget one instruction at a time.
    int finishBudgetExactly(std::uint32_t until);
    // Adds or removes the budget's hook on every instruction.
    bool countEveryInstruction(bool on);
    // Adds or removes a hook on every instruction; `hook` is 0 while there is none.
    bool hookEveryInstruction(std::size_t& hook, void* callback, bool on);
    void recordBlock(std::uint32_t address, std::uint32_t size, BlockTable::Entry& entry);
    static void onCompare(uc_struct* uc, std::uint64_t address, std::uint64_t left,
                          std::uint64_t right, std::uint32_t size, void* self);
    void keepCompared(std::uint32_t value);
    void keepPair(std::uint32_t site, std::uint32_t left, std::uint32_t right);
    static void onEntry(uc_struct* uc, std::uint64_t address, std::uint32_t size, void* self);
    // Drops the translations of every executable region, for hooks added late.
    void translateAnew();
    std::vector<std::uint32_t> compared_;
    std::unordered_set<std::uint32_t> comparedKnown_;
    std::uint32_t pairBegin_ = 0, pairEnd_ = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;
    std::unordered_set<std::uint64_t> pairsKnown_;
    std::unordered_map<std::uint32_t, std::uint8_t> pairsPerSite_;
    EntryHandler entry_;
    std::unordered_map<std::uint32_t, std::uint32_t> blocks_;
    std::uint32_t watchBegin_ = 0, watchLast_ = 0;
    bool watching_ = false;
    std::vector<std::uint32_t> hitAddresses_; // watched blocks whose count is not 0

    // One page as the snapshot found it.
    struct SavedPage {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
    };
    void forgetSnapshot();
    // Clears the pages of an owned region that the snapshot did not keep.
    bool clearUnsavedPages(std::uint32_t address, const Region& region);

    uc_struct* uc_ = nullptr;
    std::vector<SavedPage> savedPages_;
    struct uc_context* savedRegisters_ = nullptr;
    std::map<std::uint32_t, Region> regions_; // by start address; never removed
    mutable const Region* lastRegion_ = nullptr;
    mutable std::uint32_t lastRegionStart_ = 0;
    TrapHandler trap_;
    StubAreaHandler stub_;
    // Every instruction charged: the budget's last ones, or all once code the
    // script can write has run.
    bool countingExactly_ = false;
    std::string fault_;
    std::uint64_t counted_ = 0;
    std::size_t countHook_ = 0;
    BlockTable blockTable_;
    bool chargingBlocks_ = false; // during run(), while the budget is charged by block
    bool budgetNearlySpent_ = false;
    bool budgetLimited_ = false;   // run() was given a budget
    bool writableCodeRan_ = false; // from then on every instruction is counted
    std::size_t exactHook_ = 0;    // the budget's hook on every instruction, while it is added
    std::uint64_t budgetLeft_ = 0;
};

#endif
