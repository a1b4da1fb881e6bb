// A heap in emulated memory that the host keeps the books of: every block
// with its size and the address that allocated it, guard bytes after each
// block, and freed addresses remembered until they are reused. It finds
// double frees, frees of pointers it never gave out, writes past a block, and
// blocks still live at the end.
#ifndef EMULATED_HEAP_H
#define EMULATED_HEAP_H

#include "x86_machine.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class EmulatedHeap {
  public:
    struct Block {
        std::uint32_t address = 0;
        std::uint32_t size = 0;
        std::uint32_t site = 0; // the address that allocated it
    };
    enum class FreeResult { freed, neverGiven, freedBefore, guardBroken };

    // Uses [base, base + size) of the machine's memory, mapped read-write by the caller.
    EmulatedHeap(X86Machine& machine, std::uint32_t base, std::uint32_t size);

    // A new block, or 0 when the heap is full or the size is too large.
    std::uint32_t allocate(std::uint32_t size, std::uint32_t site);
    // Frees a block. `block` receives what is known of it (for freedBefore: where it
    // was allocated). A block whose guard is broken is still freed.
    FreeResult release(std::uint32_t address, Block& block);
    // The block that holds `address`, if it is live.
    const Block* find(std::uint32_t address) const;

    std::vector<Block> live() const;
    // Whether the bytes after a live block are as they were given out.
    bool guardIntact(const Block& block) const;
    std::size_t liveCount() const { return live_.size(); }

    static constexpr std::uint32_t largestBlock = 16u << 20;

    // Everything the heap knows, for putting it back as it was (a rewound process).
    struct Books {
        std::uint32_t next = 0;
        std::map<std::uint32_t, Block> live;
        std::unordered_map<std::uint32_t, Block> freed;
        std::map<std::uint32_t, std::vector<std::uint32_t>> reusable;
    };
    Books books() const { return {next_, live_, freed_, reusable_}; }
    void restore(const Books& books);

  private:
    static std::uint32_t spanOf(std::uint32_t size);
    void fill(std::uint32_t address, std::uint32_t length, std::uint8_t value);
    bool allEqual(std::uint32_t address, std::uint32_t length, std::uint8_t value) const;

    X86Machine& machine_;
    std::uint32_t base_;
    std::uint32_t end_;
    std::uint32_t next_;
    std::map<std::uint32_t, Block> live_;                          // by address
    std::unordered_map<std::uint32_t, Block> freed_;               // freed, not reused since
    std::map<std::uint32_t, std::vector<std::uint32_t>> reusable_; // by span
};

#endif
