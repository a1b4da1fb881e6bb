#include "script_allocations.h"

namespace {
// Per thread: the server may run allocations on other threads while a script
// call is under way.
thread_local int scriptDepth = 0;
thread_local ScriptAllocations held;

// Set by the allocator when it is linked in.
bool allocatorPresent = false;
} // namespace

bool scriptAllocationsCounted() {
    return allocatorPresent;
}
void markScriptAllocationsCounted() {
    allocatorPresent = true;
}

ScriptAllocations scriptAllocations() {
    return held;
}

void enterScriptCode() {
    ++scriptDepth;
}
void leaveScriptCode() {
    --scriptDepth;
}
bool inScriptCode() {
    return scriptDepth > 0;
}

void countScriptBlock(long long blocks, long long bytes) {
    held.blocks += blocks;
    held.bytes += bytes;
}
