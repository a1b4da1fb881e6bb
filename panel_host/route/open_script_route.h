// Reaching a panel script library: the route is chosen from what the file is,
// so the host and studio never know whether the script runs natively or on
// the CPU emulator.
#ifndef OPEN_SCRIPT_ROUTE_H
#define OPEN_SCRIPT_ROUTE_H

#include "script_route.h"

#include <memory>
#include <string>

// Opens LIB by what it is: an ELF shared object natively, a PE32 DLL on the
// CPU emulator. Nothing and a reason when it cannot.
std::unique_ptr<ScriptRoute> openScriptRoute(const std::string& path, std::string& error);

// A PE32 DLL on the CPU emulator, with the runtime panel-host serves.
std::unique_ptr<ScriptRoute> openEmulatedRoute(const std::string& path, std::string& error);

#endif
