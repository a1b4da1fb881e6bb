// What the machine keeps of each translated block, by the block's start
// address: its size and instruction count, so the instruction budget can be
// charged a block at a time, and for watched code whether it ran and how
// often since counting began. Entries are kept per 4 KiB page of code, made
// when a block on that page first runs, so one lookup answers all of it.
//
// Threads: owned by one X86Machine and used on the thread that runs it.
#ifndef BLOCK_TABLE_H
#define BLOCK_TABLE_H

#include <cstdint>
#include <vector>

class BlockTable {
  public:
    struct Entry {
        std::uint16_t size;         // bytes, with `instructions`: 0 when not known
        std::uint16_t instructions; // in the block the emulator translated there
        std::uint8_t hits;          // runs since counting began, 255 at most
        std::uint8_t seen;          // ran at least once
    };

    BlockTable();
    ~BlockTable();
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;

    // The entry for the block at `address`, made empty if there was none.
    Entry& at(std::uint32_t address) {
        Entry* entries = pages_[address >> pageBits];
        if (entries == nullptr)
            entries = makePage(address >> pageBits);
        return entries[address & pageMask];
    }
    // The entry for the block at `address`, or null if none was made.
    const Entry* find(std::uint32_t address) const {
        const Entry* entries = pages_[address >> pageBits];
        return entries == nullptr ? nullptr : &entries[address & pageMask];
    }
    // Forgets the sizes and counts of blocks that start in [address,
    // address + size): the code there was written anew.
    void forgetInstructions(std::uint32_t address, std::uint64_t size);

  private:
    static constexpr std::uint32_t pageBits = 12, pageMask = (1u << pageBits) - 1;
    static constexpr std::uint32_t pageCount = 1u << (32 - pageBits);
    Entry* makePage(std::uint32_t page);
    Entry** pages_;                        // pageCount pointers, null where no block ran
    std::vector<std::uint32_t> allocated_; // the pages that have entries
};

#endif
