#include "x86_machine.h"

#include "hex_text.h"
#include "pe_image.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace {

int unicornRegister(X86Machine::Register r) {
    static const int ids[] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX,
                              UC_X86_REG_EDX, UC_X86_REG_ESI, UC_X86_REG_EDI,
                              UC_X86_REG_EBP, UC_X86_REG_ESP, UC_X86_REG_EIP};
    return ids[r];
}

std::uint32_t unicornPermissions(std::uint32_t permissions) {
    std::uint32_t out = UC_PROT_NONE;
    if (permissions & pageRead)
        out |= UC_PROT_READ;
    if (permissions & pageWrite)
        out |= UC_PROT_WRITE;
    if (permissions & pageExecute)
        out |= UC_PROT_EXEC;
    return out;
}

std::string accessFault(int type, std::uint64_t address) {
    switch (type) {
    case UC_MEM_READ_UNMAPPED:
        return "read of unmapped memory at " + hexAddress(address);
    case UC_MEM_WRITE_UNMAPPED:
        return "write to unmapped memory at " + hexAddress(address);
    case UC_MEM_FETCH_UNMAPPED:
        return "jump to unmapped memory at " + hexAddress(address);
    case UC_MEM_WRITE_PROT:
        return "write to read-only memory at " + hexAddress(address);
    case UC_MEM_READ_PROT:
        return "read of unreadable memory at " + hexAddress(address);
    case UC_MEM_FETCH_PROT:
        return "jump to non-executable memory at " + hexAddress(address);
    default:
        return "bad memory access at " + hexAddress(address);
    }
}

} // namespace

X86Machine::X86Machine() {
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) {
        uc_ = nullptr;
        return;
    }
    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&X86Machine::onInterrupt), this,
                1, 0);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&X86Machine::onBadAccess),
                this, 1, 0);
    // One block hook everywhere: it charges the budget and records what is watched.
    uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&X86Machine::onBlock), this, 1,
                0);
}

X86Machine::~X86Machine() {
    forgetSnapshot();
    if (uc_ != nullptr)
        uc_close(uc_);
    // The emulator is gone: the memory it was lent can go too.
    for (const auto& [address, region] : regions_)
        if (region.host != nullptr)
            munmap(region.host, region.size);
}

bool X86Machine::map(std::uint32_t address, std::uint32_t size, std::uint32_t permissions,
                     std::string& error) {
    if (uc_ == nullptr) {
        error = "the CPU emulator could not start";
        return false;
    }
    std::uint8_t* host = nullptr;
    uc_err result = UC_ERR_OK;
    if (permissions & pageExecute) {
        result = uc_mem_map(uc_, address, size, unicornPermissions(permissions));
    } else {
        void* bytes =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (bytes == MAP_FAILED) {
            error = "cannot map " + hexAddress(address) + " (out of memory)";
            return false;
        }
        host = static_cast<std::uint8_t*>(bytes);
        result = uc_mem_map_ptr(uc_, address, size, unicornPermissions(permissions), host);
        if (result != UC_ERR_OK)
            munmap(host, size);
    }
    if (result != UC_ERR_OK) {
        error = "cannot map " + hexAddress(address) + " (" + uc_strerror(result) + ")";
        return false;
    }
    regions_[address] = {size, permissions, host};
    return true;
}

bool X86Machine::allows(std::uint32_t address, std::uint64_t size,
                        std::uint32_t permissions) const {
    std::uint32_t offset = 0;
    if (size == 0)
        return true;
    if (const Region* region = regionHolding(address, size, offset))
        return (region->permissions & permissions) == permissions;
    std::uint64_t at = address;
    std::uint64_t end = at + size;
    while (at < end) {
        auto region = regions_.upper_bound(static_cast<std::uint32_t>(at));
        if (region == regions_.begin())
            return false;
        --region;
        std::uint64_t regionEnd = static_cast<std::uint64_t>(region->first) + region->second.size;
        if (at >= regionEnd || (region->second.permissions & permissions) != permissions)
            return false;
        at = regionEnd;
    }
    return true;
}

bool X86Machine::mapped(std::uint32_t address, std::uint32_t size) const {
    return allows(address, size, 0);
}

// The region last found is tried first: host calls mostly touch one region
// (the stack, the heap) several times in a row.
const X86Machine::Region* X86Machine::regionHolding(std::uint32_t address, std::size_t size,
                                                    std::uint32_t& offset) const {
    if (lastRegion_ == nullptr || address - lastRegionStart_ >= lastRegion_->size) {
        auto region = regions_.upper_bound(address);
        if (region == regions_.begin())
            return nullptr;
        --region;
        if (address - region->first >= region->second.size)
            return nullptr;
        lastRegionStart_ = region->first;
        lastRegion_ = &region->second;
    }
    offset = address - lastRegionStart_;
    if (size > lastRegion_->size - offset)
        return nullptr;
    return lastRegion_;
}

std::uint8_t* X86Machine::ownedTail(std::uint32_t address, std::uint32_t permissions,
                                    std::uint32_t& available) const {
    std::uint32_t offset = 0;
    const Region* region = regionHolding(address, 1, offset);
    if (region == nullptr || region->host == nullptr ||
        (region->permissions & permissions) != permissions)
        return nullptr;
    available = region->size - offset;
    return region->host + offset;
}

std::uint8_t* X86Machine::ownedBytes(std::uint32_t address, std::uint64_t size,
                                     std::uint32_t permissions) const {
    std::uint32_t available = 0;
    std::uint8_t* bytes = ownedTail(address, permissions, available);
    return bytes != nullptr && size <= available ? bytes : nullptr;
}

bool X86Machine::read(std::uint32_t address, void* out, std::size_t size) const {
    if (size == 0)
        return true;
    std::uint32_t offset = 0;
    const Region* region = regionHolding(address, size, offset);
    if (region != nullptr && region->host != nullptr) {
        std::memcpy(out, region->host + offset, size);
        return true;
    }
    return mapped(address, static_cast<std::uint32_t>(size)) &&
           uc_mem_read(uc_, address, out, size) == UC_ERR_OK;
}

bool X86Machine::write(std::uint32_t address, const void* data, std::size_t size) {
    if (size == 0)
        return true;
    std::uint32_t offset = 0;
    const Region* region = regionHolding(address, size, offset);
    if (region != nullptr && region->host != nullptr) {
        std::memcpy(region->host + offset, data, size);
        return true;
    }
    // Code is written here: the emulator translates it anew, and its counts go too.
    blockTable_.forgetInstructions(address, size);
    return mapped(address, static_cast<std::uint32_t>(size)) &&
           uc_mem_write(uc_, address, data, size) == UC_ERR_OK;
}

bool X86Machine::read32(std::uint32_t address, std::uint32_t& value) const {
    std::uint8_t b[4];
    if (!read(address, b, 4))
        return false;
    value = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return true;
}

bool X86Machine::write32(std::uint32_t address, std::uint32_t value) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                         static_cast<std::uint8_t>(value >> 16),
                         static_cast<std::uint8_t>(value >> 24)};
    return write(address, b, 4);
}

std::uint32_t X86Machine::reg(Register r) const {
    std::uint32_t value = 0;
    uc_reg_read(uc_, unicornRegister(r), &value);
    return value;
}

void X86Machine::setReg(Register r, std::uint32_t value) {
    uc_reg_write(uc_, unicornRegister(r), &value);
}

void X86Machine::setRegs(std::initializer_list<std::pair<Register, std::uint32_t>> values) {
    int ids[maxBatch];
    std::uint32_t copies[maxBatch];
    void* pointers[maxBatch];
    int count = 0;
    for (const auto& [r, value] : values) {
        if (count == maxBatch)
            break;
        ids[count] = unicornRegister(r);
        copies[count] = value;
        pointers[count] = &copies[count];
        ++count;
    }
    uc_reg_write_batch(uc_, ids, pointers, count);
}

void X86Machine::regs(std::initializer_list<Register> which, std::uint32_t* out) const {
    int ids[maxBatch];
    void* pointers[maxBatch];
    int count = 0;
    for (Register r : which) {
        if (count == maxBatch)
            break;
        out[count] = 0;
        ids[count] = unicornRegister(r);
        pointers[count] = &out[count];
        ++count;
    }
    uc_reg_read_batch(uc_, ids, pointers, count);
}

void X86Machine::fault(const std::string& what) {
    if (fault_.empty())
        fault_ = what;
    uc_emu_stop(uc_);
}

void X86Machine::onInterrupt(uc_struct* uc, std::uint32_t number, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    std::uint32_t next = machine->reg(eip);
    if (number != 0x80 || !machine->trap_) {
        machine->fault("CPU exception " + std::to_string(number));
        return;
    }
    machine->trap_(next);
    (void)uc;
}

bool X86Machine::onBadAccess(uc_struct*, int type, std::uint64_t address, int, std::int64_t,
                             void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    if (machine->fault_.empty())
        machine->fault_ = accessFault(type, address);
    return false;
}

void X86Machine::onInstruction(uc_struct*, std::uint64_t, std::uint32_t, void* self) {
    ++static_cast<X86Machine*>(self)->counted_;
}

void X86Machine::onBlock(uc_struct*, std::uint64_t address, std::uint32_t size, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    std::uint32_t at = static_cast<std::uint32_t>(address);
    BlockTable::Entry& entry = machine->blockTable_.at(at);
    if (machine->chargingBlocks_ && !machine->chargeBlock(at, size, entry))
        return; // not run now: it is recorded when it runs
    if (machine->watching_ &&
        at - machine->watchBegin_ <= machine->watchLast_ - machine->watchBegin_)
        machine->recordBlock(at, size, entry);
}

void X86Machine::recordBlock(std::uint32_t at, std::uint32_t size, BlockTable::Entry& entry) {
    if (entry.hits == 0)
        hitAddresses_.push_back(at);
    if (entry.hits != 255)
        ++entry.hits;
    if (entry.seen != 0)
        return;
    entry.seen = 1;
    blocks_.try_emplace(at, size);
}

bool X86Machine::chargeBlock(std::uint32_t address, std::uint32_t size, BlockTable::Entry& entry) {
    std::uint32_t count = entry.size == size ? entry.instructions : 0;
    if (count == 0)
        count = instructionsInBlock(address, size, entry);
    if (count == 0 || count > budgetLeft_) {
        budgetNearlySpent_ = true;
        chargingBlocks_ = false;
        uc_emu_stop(uc_);
        return false;
    }
    budgetLeft_ -= count;
    return true;
}

// Asks the emulator for the block it is about to run. Code the script may
// write is not charged by block (0): a block that rewrites itself runs in
// pieces the emulator translates as it goes, so it is counted one
// instruction at a time.
std::uint32_t X86Machine::instructionsInBlock(std::uint32_t address, std::uint32_t size,
                                              BlockTable::Entry& entry) {
    std::uint32_t offset = 0;
    const Region* region = regionHolding(address, size, offset);
    if (region != nullptr && (region->permissions & pageWrite))
        writableCodeRan_ = true;
    uc_tb block{};
    if (region == nullptr || writableCodeRan_ ||
        uc_ctl_request_cache(uc_, address, &block) != UC_ERR_OK || block.pc != address ||
        block.size != size)
        return 0;
    entry.size = static_cast<std::uint16_t>(size);
    entry.instructions = block.icount;
    return block.icount;
}

bool X86Machine::stubArea(std::uint32_t begin, std::uint32_t end, StubAreaHandler handler) {
    if (uc_ == nullptr || begin == end)
        return false;
    stub_ = std::move(handler);
    uc_hook hook;
    return uc_hook_add(uc_, &hook, UC_HOOK_CODE,
                       reinterpret_cast<void*>(&X86Machine::onStubInstruction), this, begin,
                       end - 1) == UC_ERR_OK;
}

// The stub area's hook was added first, so it runs before the budget's hook
// for the same instruction: with nothing left, the budget's hook ends the run.
void X86Machine::onStubInstruction(uc_struct*, std::uint64_t address, std::uint32_t, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    if (machine->countingExactly_ && machine->budgetLimited_ && machine->budgetLeft_ == 0)
        return; // the budget ends the run before this instruction
    machine->stub_(static_cast<std::uint32_t>(address));
}

void X86Machine::onBudgetedInstruction(uc_struct* uc, std::uint64_t, std::uint32_t, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    if (!machine->budgetLimited_)
        return;
    if (machine->budgetLeft_ == 0)
        uc_emu_stop(uc);
    else
        --machine->budgetLeft_;
}

// Code translated while the hook was there, or before it was, calls it or
// not: either way it is translated anew.
bool X86Machine::hookEveryInstruction(std::size_t& hook, void* callback, bool on) {
    if (on == (hook != 0))
        return true;
    if (on) {
        uc_hook added;
        if (uc_hook_add(uc_, &added, UC_HOOK_CODE, callback, this, 1, 0) != UC_ERR_OK)
            return false;
        hook = added;
    } else {
        uc_hook_del(uc_, hook);
        hook = 0;
    }
    translateAnew();
    return true;
}

bool X86Machine::countEveryInstruction(bool on) {
    return hookEveryInstruction(exactHook_,
                                reinterpret_cast<void*>(&X86Machine::onBudgetedInstruction), on);
}

// Once code the script can write has run, every later run counts each
// instruction (as the emulator's own count did), rather than translating
// everything anew twice a run.
int X86Machine::finishBudgetExactly(std::uint32_t until) {
    if (budgetLeft_ == 0 && !writableCodeRan_)
        return UC_ERR_OK; // the next instruction is already one too many
    if (!countEveryInstruction(true))
        return UC_ERR_HOOK;
    countingExactly_ = true;
    uc_err result = uc_emu_start(uc_, reg(eip), until, 0, 0);
    countingExactly_ = false;
    if (!writableCodeRan_)
        countEveryInstruction(false); // the rest of the runs go without a call per instruction
    return result;
}

void X86Machine::startCountingHits() {
    for (std::uint32_t address : hitAddresses_)
        blockTable_.at(address).hits = 0;
    hitAddresses_.clear();
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> X86Machine::hitCounts() const {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> counts;
    counts.reserve(hitAddresses_.size());
    for (std::uint32_t address : hitAddresses_)
        counts.push_back({address, blockTable_.find(address)->hits});
    return counts;
}

void X86Machine::watchBlocks(std::uint32_t begin, std::uint32_t end) {
    if (begin == end)
        return;
    watchBegin_ = begin;
    watchLast_ = end - 1;
    watching_ = true;
}

// Code translated before a hook was added has no call to it: throw it away,
// region by region (flushing every translation at once takes seconds).
void X86Machine::translateAnew() {
    for (const auto& [address, region] : regions_)
        if (region.permissions & pageExecute)
            uc_ctl_remove_cache(uc_, address, static_cast<std::uint64_t>(address) + region.size);
}

void X86Machine::onCompare(uc_struct*, std::uint64_t address, std::uint64_t left,
                           std::uint64_t right, std::uint32_t, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    if (address >= machine->pairBegin_ && address < machine->pairEnd_)
        machine->keepPair(static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(left),
                          static_cast<std::uint32_t>(right));
    if (machine->compared_.size() >= maxComparedValues)
        return;
    machine->keepCompared(static_cast<std::uint32_t>(left));
    machine->keepCompared(static_cast<std::uint32_t>(right));
}

void X86Machine::keepCompared(std::uint32_t value) {
    if (compared_.size() < maxComparedValues && comparedKnown_.insert(value).second)
        compared_.push_back(value);
}

void X86Machine::keepPair(std::uint32_t site, std::uint32_t left, std::uint32_t right) {
    if (left == right || pairsKnown_.size() >= maxComparedPairs)
        return;
    std::uint8_t& count = pairsPerSite_[site];
    if (count >= maxPairsPerSite ||
        !pairsKnown_.insert((static_cast<std::uint64_t>(left) << 32) | right).second)
        return;
    ++count;
    pairs_.push_back({left, right});
}

void X86Machine::pairCompares(std::uint32_t begin, std::uint32_t end) {
    pairBegin_ = begin;
    pairEnd_ = end;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> X86Machine::takeComparedPairs() {
    return std::exchange(pairs_, {});
}

void X86Machine::forgetComparedPairs() {
    pairsKnown_.clear();
    pairsPerSite_.clear();
    pairs_.clear();
}

bool X86Machine::watchEntries(const std::vector<std::uint32_t>& addresses, EntryHandler handler) {
    if (uc_ == nullptr)
        return false;
    entry_ = std::move(handler);
    for (std::uint32_t address : addresses) {
        uc_hook hook;
        if (uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&X86Machine::onEntry),
                        this, address, address) != UC_ERR_OK)
            return false;
    }
    translateAnew();
    return true;
}

void X86Machine::onEntry(uc_struct*, std::uint64_t address, std::uint32_t, void* self) {
    auto* machine = static_cast<X86Machine*>(self);
    if (machine->countingExactly_ && machine->budgetLimited_ && machine->budgetLeft_ == 0)
        return; // the budget ends the run before this instruction
    machine->entry_(static_cast<std::uint32_t>(address));
}

void X86Machine::logCompares(std::uint32_t begin, std::uint32_t end) {
    if (uc_ == nullptr)
        return;
    uc_hook hook;
    if (uc_hook_add(uc_, &hook, UC_HOOK_TCG_OPCODE, reinterpret_cast<void*>(&X86Machine::onCompare),
                    this, begin, end - 1, UC_TCG_OP_SUB, UC_TCG_OP_FLAG_CMP) == UC_ERR_OK)
        translateAnew();
}

void X86Machine::countInstructions(bool on) {
    hookEveryInstruction(countHook_, reinterpret_cast<void*>(&X86Machine::onInstruction), on);
}

X86Machine::Stop X86Machine::run(std::uint32_t start, std::uint32_t until, std::uint64_t budget) {
    fault_.clear();
    budgetLeft_ = budget;
    budgetLimited_ = budget != 0;
    budgetNearlySpent_ = false;
    countingExactly_ = exactHook_ != 0;
    chargingBlocks_ = budgetLimited_ && !countingExactly_;
    int result = uc_emu_start(uc_, start, until, 0, 0);
    chargingBlocks_ = false;
    countingExactly_ = false;
    if (result == UC_ERR_OK && fault_.empty() && budgetNearlySpent_)
        result = finishBudgetExactly(until);
    Stop stop;
    stop.at = reg(eip);
    if (!fault_.empty()) {
        stop.kind = Stop::fault;
        stop.what = fault_;
    } else if (result != UC_ERR_OK) {
        stop.kind = Stop::fault;
        stop.what = result == UC_ERR_INSN_INVALID ? "invalid instruction"
                                                  : uc_strerror(static_cast<uc_err>(result));
    } else if (stop.at != until) {
        stop.kind = Stop::budgetSpent;
        stop.what = "ran past its budget of " + std::to_string(budget) + " instructions";
    }
    return stop;
}

namespace {

constexpr std::uint32_t page = 0x1000;

bool allZero(const std::uint8_t* bytes) {
    for (std::uint32_t i = 0; i < page; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

} // namespace

void X86Machine::forgetSnapshot() {
    savedPages_.clear();
    if (savedRegisters_ != nullptr)
        uc_context_free(savedRegisters_);
    savedRegisters_ = nullptr;
}

// Memory the machine owns (the host writes even its read-only parts) is kept
// as its non-zero resident pages, since most of the stack and heap was never
// touched; memory the emulator owns is kept whole where the script can write it.
bool X86Machine::snapshot() {
    forgetSnapshot();
    if (uc_ == nullptr || uc_context_alloc(uc_, &savedRegisters_) != UC_ERR_OK ||
        uc_context_save(uc_, savedRegisters_) != UC_ERR_OK)
        return false;
    for (const auto& [address, region] : regions_) {
        if (region.host == nullptr && !(region.permissions & pageWrite))
            continue; // code and constants: only the loader wrote them
        if (region.host == nullptr) {
            SavedPage saved{address, std::vector<std::uint8_t>(region.size)};
            if (uc_mem_read(uc_, address, saved.bytes.data(), region.size) != UC_ERR_OK)
                return false;
            savedPages_.push_back(std::move(saved));
            continue;
        }
        std::vector<unsigned char> resident(region.size / page);
        if (mincore(region.host, region.size, resident.data()) != 0)
            return false;
        for (std::uint32_t i = 0; i < resident.size(); ++i) {
            const std::uint8_t* bytes = region.host + i * page;
            if ((resident[i] & 1) && !allZero(bytes))
                savedPages_.push_back({address + i * page, {bytes, bytes + page}});
        }
    }
    return true;
}

// Owned memory is put back page by page, touching only what the session
// changed: a kept page that differs is copied back, any other page the
// session made non-zero is cleared. (Dropping whole regions instead costs a
// page fault on every page the next session touches.) The rest is written
// back through the emulator.
bool X86Machine::restore() {
    if (savedRegisters_ == nullptr)
        return false;
    for (const auto& [address, region] : regions_)
        if (region.host != nullptr && !clearUnsavedPages(address, region))
            return false;
    for (const SavedPage& saved : savedPages_) {
        std::uint8_t* now = ownedBytes(saved.address, page, 0);
        if (now == nullptr) {
            if (!write(saved.address, saved.bytes.data(), saved.bytes.size()))
                return false;
        } else if (std::memcmp(now, saved.bytes.data(), page) != 0) {
            std::memcpy(now, saved.bytes.data(), page);
        }
    }
    fault_.clear();
    return uc_context_restore(uc_, savedRegisters_) == UC_ERR_OK;
}

bool X86Machine::clearUnsavedPages(std::uint32_t address, const Region& region) {
    std::vector<unsigned char> resident(region.size / page);
    if (mincore(region.host, region.size, resident.data()) != 0)
        return false;
    auto saved =
        std::lower_bound(savedPages_.begin(), savedPages_.end(), address,
                         [](const SavedPage& p, std::uint32_t at) { return p.address < at; });
    for (std::uint32_t i = 0; i < resident.size(); ++i) {
        std::uint32_t at = address + i * page;
        while (saved != savedPages_.end() && saved->address < at)
            ++saved;
        bool kept = saved != savedPages_.end() && saved->address == at;
        std::uint8_t* bytes = region.host + i * page;
        if (!kept && (resident[i] & 1) && !allZero(bytes))
            std::memset(bytes, 0, page);
    }
    return true;
}
