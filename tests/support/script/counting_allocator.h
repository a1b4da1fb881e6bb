// Counts every allocation in the process (this binary and the libraries it
// loads) by standing in front of the C runtime's malloc. Not for sanitizer
// builds, which have their own allocator.
#ifndef COUNTING_ALLOCATOR_H
#define COUNTING_ALLOCATOR_H

#include <cstddef>

// Allocations (malloc, calloc, realloc) made so far.
std::size_t allocationCount();

#endif
