// The script library's own allocator: every buffer the script hands the host
// (type-3 replies) and every buffer it keeps (parsed messages, decoded
// replies, the script object itself) comes from here and goes back here.
#ifndef SCRIPT_MEMORY_H
#define SCRIPT_MEMORY_H

#include <stddef.h>

// Returns null when no memory is left; callers carry on without the buffer.
void* scriptAlloc(size_t bytes);
void scriptFree(void* buffer);

#if defined(VESK_FAULT_INJECTION)
// Test builds only: the next `allowed` allocations succeed, every later one
// fails until the countdown is set again; a negative count never fails.
void scriptFailAllocationsAfter(int allowed);
#endif

#endif
