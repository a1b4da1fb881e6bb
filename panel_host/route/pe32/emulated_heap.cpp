#include "emulated_heap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t alignment = 16;
constexpr std::uint32_t guardSize = 16;
constexpr std::uint8_t guardByte = 0xfd;
constexpr std::uint8_t freedByte = 0xdd;

} // namespace

EmulatedHeap::EmulatedHeap(X86Machine& machine, std::uint32_t base, std::uint32_t size)
    : machine_(machine), base_(base), end_(base + size), next_(base) {}

// The heap lies in memory the machine owns, so guards and poison are written
// and checked in place; the copying path is kept for any other memory.
void EmulatedHeap::fill(std::uint32_t address, std::uint32_t length, std::uint8_t value) {
    if (std::uint8_t* bytes = machine_.ownedBytes(address, length, 0)) {
        std::memset(bytes, value, length);
        return;
    }
    std::vector<std::uint8_t> copy(length, value);
    machine_.write(address, copy.data(), copy.size());
}

bool EmulatedHeap::allEqual(std::uint32_t address, std::uint32_t length, std::uint8_t value) const {
    if (const std::uint8_t* bytes = machine_.ownedBytes(address, length, 0))
        return std::all_of(bytes, bytes + length, [value](std::uint8_t b) { return b == value; });
    std::vector<std::uint8_t> copy(length);
    return machine_.read(address, copy.data(), length) &&
           std::all_of(copy.begin(), copy.end(), [value](std::uint8_t b) { return b == value; });
}

std::uint32_t EmulatedHeap::spanOf(std::uint32_t size) {
    return (size + alignment - 1) / alignment * alignment + guardSize;
}

std::uint32_t EmulatedHeap::allocate(std::uint32_t size, std::uint32_t site) {
    if (size > largestBlock)
        return 0;
    std::uint32_t span = spanOf(size);
    std::uint32_t address = 0;
    auto reusable = reusable_.find(span);
    if (reusable != reusable_.end() && !reusable->second.empty()) {
        address = reusable->second.back();
        reusable->second.pop_back();
        freed_.erase(address);
    } else if (end_ - next_ >= span) {
        address = next_;
        next_ += span;
    } else {
        return 0;
    }
    // The guard runs from the block's end to the end of its span.
    fill(address + size, span - size, guardByte);
    live_[address] = {address, size, site};
    return address;
}

bool EmulatedHeap::guardIntact(const Block& block) const {
    return allEqual(block.address + block.size, spanOf(block.size) - block.size, guardByte);
}

EmulatedHeap::FreeResult EmulatedHeap::release(std::uint32_t address, Block& block) {
    auto found = live_.find(address);
    if (found == live_.end()) {
        auto before = freed_.find(address);
        if (before == freed_.end())
            return FreeResult::neverGiven;
        block = before->second;
        return FreeResult::freedBefore;
    }
    block = found->second;
    bool intact = guardIntact(block);
    live_.erase(found);
    fill(address, block.size, freedByte);
    freed_[address] = block;
    reusable_[spanOf(block.size)].push_back(address);
    return intact ? FreeResult::freed : FreeResult::guardBroken;
}

const EmulatedHeap::Block* EmulatedHeap::find(std::uint32_t address) const {
    auto after = live_.upper_bound(address);
    if (after == live_.begin())
        return nullptr;
    const Block& block = std::prev(after)->second;
    return address < block.address + block.size ? &block : nullptr;
}

std::vector<EmulatedHeap::Block> EmulatedHeap::live() const {
    std::vector<Block> blocks;
    for (const auto& [address, block] : live_)
        blocks.push_back(block);
    return blocks;
}

void EmulatedHeap::restore(const Books& books) {
    next_ = books.next;
    live_ = books.live;
    freed_ = books.freed;
    reusable_ = books.reusable;
}
