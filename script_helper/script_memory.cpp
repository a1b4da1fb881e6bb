#include "script_memory.h"

#include <stdlib.h>

#if defined(VESK_FAULT_INJECTION)
namespace {
int allocationsLeft = -1;
}

void scriptFailAllocationsAfter(int allowed) { allocationsLeft = allowed; }
#endif

void* scriptAlloc(size_t bytes) {
#if defined(VESK_FAULT_INJECTION)
    if (allocationsLeft == 0)
        return 0;
    if (allocationsLeft > 0)
        --allocationsLeft;
#endif
    return malloc(bytes);
}

void scriptFree(void* buffer) { free(buffer); }
