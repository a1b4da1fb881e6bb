#include "emulated_heap.h"

#include <vector>

namespace {

constexpr std::uint32_t alignment = 16;
constexpr std::uint32_t guardSize = 16;
constexpr std::uint8_t guardByte = 0xfd;
constexpr std::uint8_t freedByte = 0xdd;

} // namespace

EmulatedHeap::EmulatedHeap(X86Machine& machine, std::uint32_t base, std::uint32_t size)
    : machine_(machine), base_(base), end_(base + size), next_(base) {}

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
    std::vector<std::uint8_t> guard(span - size, guardByte);
    machine_.write(address + size, guard.data(), guard.size());
    live_[address] = {address, size, site};
    return address;
}

bool EmulatedHeap::guardIntact(const Block& block) const {
    std::uint32_t length = spanOf(block.size) - block.size;
    std::vector<std::uint8_t> guard(length);
    if (!machine_.read(block.address + block.size, guard.data(), length))
        return false;
    for (std::uint8_t b : guard)
        if (b != guardByte)
            return false;
    return true;
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
    std::vector<std::uint8_t> poison(block.size, freedByte);
    machine_.write(address, poison.data(), poison.size());
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
