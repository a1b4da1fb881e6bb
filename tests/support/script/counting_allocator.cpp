#include "counting_allocator.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* memory, std::size_t bytes);
void __libc_free(void* memory);
}

namespace {
std::size_t allocations = 0;
}

std::size_t allocationCount() {
    return allocations;
}

extern "C" {
void* malloc(std::size_t bytes) {
    ++allocations;
    return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes) {
    ++allocations;
    return __libc_calloc(count, bytes);
}
void* realloc(void* memory, std::size_t bytes) {
    ++allocations;
    return __libc_realloc(memory, bytes);
}
void free(void* memory) {
    __libc_free(memory);
}
}
