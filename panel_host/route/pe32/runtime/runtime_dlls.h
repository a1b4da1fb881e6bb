// The C runtime and Win32 functions that panel scripts may import, served by
// panel-host itself: one file a DLL, one row a function, so supporting a new
// import is one row in its DLL's table.
#ifndef RUNTIME_DLLS_H
#define RUNTIME_DLLS_H

#include "runtime_dll.h"

extern const RuntimeDll ucrtbaseDll;
extern const RuntimeDll kernel32Dll;

// Every DLL that panel-host serves, for building a process.
RuntimeDlls servedRuntimeDlls();

#endif
