// What a native script holds on the C runtime heap. The native route marks
// the time spent in script code; an allocator in front of malloc (linked into
// panel-host where no sanitizer owns malloc) counts blocks made and freed
// there. A script's blocks still counted after its delete are a leak.
#ifndef SCRIPT_ALLOCATIONS_H
#define SCRIPT_ALLOCATIONS_H

struct ScriptAllocations {
    long long blocks = 0;
    long long bytes = 0;
};

// False where nothing counts (sanitizer builds, or a program without the allocator).
bool scriptAllocationsCounted();
// Net blocks and bytes allocated by script code on this thread so far.
ScriptAllocations scriptAllocations();

// Brackets script code: the route enters it around a call into the script
// and leaves it while the script calls the host back. Nests.
void enterScriptCode();
void leaveScriptCode();
bool inScriptCode();

// For the allocator: count a block made or freed in script code, and say at
// start-up that it is there.
void countScriptBlock(long long blocks, long long bytes);
void markScriptAllocationsCounted();

#endif
