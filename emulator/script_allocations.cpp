#include "script_allocations.h"

namespace {
// Per thread: the server may run allocations on other threads while a script
// call is under way.
thread_local int scriptDepth = 0;
thread_local ScriptAllocations held;
} // namespace

// The allocator's own file gives the real answer; this one stands where it is absent.
__attribute__((weak)) bool scriptAllocationsCounted() {
    return false;
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
