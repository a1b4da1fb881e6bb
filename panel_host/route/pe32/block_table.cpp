#include "block_table.h"

#include <cstdlib>
#include <new>

// The page table is zeroed by the system and touched only where code runs.
BlockTable::BlockTable() : pages_(static_cast<Entry**>(std::calloc(pageCount, sizeof(Entry*)))) {
    if (pages_ == nullptr)
        throw std::bad_alloc();
}

BlockTable::~BlockTable() {
    for (std::uint32_t page : allocated_)
        delete[] pages_[page];
    std::free(pages_);
}

BlockTable::Entry* BlockTable::makePage(std::uint32_t page) {
    allocated_.push_back(page);
    pages_[page] = new Entry[pageMask + 1]();
    return pages_[page];
}

void BlockTable::forgetInstructions(std::uint32_t address, std::uint64_t size) {
    std::uint64_t end = static_cast<std::uint64_t>(address) + size;
    for (std::uint64_t at = address; at < end && at <= 0xFFFFFFFFu;) {
        std::uint32_t page = static_cast<std::uint32_t>(at >> pageBits);
        std::uint64_t pageEnd = (static_cast<std::uint64_t>(page) + 1) << pageBits;
        if (Entry* entries = pages_[page]) {
            std::uint64_t last = end < pageEnd ? end : pageEnd;
            for (std::uint64_t a = at; a < last; ++a) {
                entries[a & pageMask].size = 0;
                entries[a & pageMask].instructions = 0;
            }
        }
        at = pageEnd;
    }
}
