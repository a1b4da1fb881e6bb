// Stands in for the Microsoft C++ runtime, which this toolchain does not have:
// the global allocation operators on the C runtime, and the DLL entry point.
// With this entry point no static constructors run, so the libraries have none.
#include <stddef.h>
#include <stdlib.h>

void* operator new(size_t bytes) { return malloc(bytes); }
void* operator new[](size_t bytes) { return malloc(bytes); }
void operator delete(void* memory) noexcept { free(memory); }
void operator delete[](void* memory) noexcept { free(memory); }
void operator delete(void* memory, size_t) noexcept { free(memory); }
void operator delete[](void* memory, size_t) noexcept { free(memory); }

extern "C" int __stdcall _DllMainCRTStartup(void*, unsigned long, void*) { return 1; }
