// The C runtime's allocation functions, standing in front of glibc's, so that
// blocks made and freed by native script code are counted. Host code passes
// straight through. Not built where a sanitizer replaces malloc.
#include "script_allocations.h"

#include <cstddef>
#include <malloc.h>

extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* memory, std::size_t bytes);
void __libc_free(void* memory);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
}

namespace {

// Tells the books, before main, that blocks are being counted.
const bool announced = (markScriptAllocationsCounted(), true);

long long sizeOf(void* block) {
    return block == nullptr ? 0 : static_cast<long long>(malloc_usable_size(block));
}

void* counted(void* block) {
    if (block != nullptr && inScriptCode())
        countScriptBlock(1, sizeOf(block));
    return block;
}

} // namespace

extern "C" {

void* malloc(std::size_t bytes) {
    return counted(__libc_malloc(bytes));
}

void* calloc(std::size_t count, std::size_t bytes) {
    return counted(__libc_calloc(count, bytes));
}

void* realloc(void* memory, std::size_t bytes) {
    if (!inScriptCode())
        return __libc_realloc(memory, bytes);
    long long before = sizeOf(memory);
    void* moved = __libc_realloc(memory, bytes);
    if (memory == nullptr)
        return counted(moved);
    if (moved == nullptr && bytes == 0)
        countScriptBlock(-1, -before); // realloc(p, 0) freed it
    else if (moved != nullptr)
        countScriptBlock(0, sizeOf(moved) - before);
    return moved;
}

void* memalign(std::size_t alignment, std::size_t bytes) {
    return counted(__libc_memalign(alignment, bytes));
}

void* aligned_alloc(std::size_t alignment, std::size_t bytes) {
    return counted(__libc_memalign(alignment, bytes));
}

int posix_memalign(void** memory, std::size_t alignment, std::size_t bytes) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL
    void* block = counted(__libc_memalign(alignment, bytes));
    if (block == nullptr)
        return 12; // ENOMEM
    *memory = block;
    return 0;
}

void free(void* memory) {
    if (memory != nullptr && inScriptCode())
        countScriptBlock(-1, -sizeOf(memory));
    __libc_free(memory);
}
}
