// Chooses the route from what the library file is, not from its name.
#include "open_script_route.h"

#include "native_route.h"

#if defined(PANEL_HOST_EMULATED_ROUTE)
#include "emulated_route.h"
#include "runtime_dlls.h"
#endif

#include <sys/stat.h>

#include <fstream>

namespace {

enum class LibraryKind { elf, pe, other };

// The first bytes of a regular file, or a reason.
bool readMagic(const std::string& path, std::string& magic, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = "cannot load " + path + ": no such file";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "cannot load " + path + ": not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    char bytes[4] = {};
    in.read(bytes, sizeof bytes);
    magic.assign(bytes, static_cast<size_t>(in.gcount()));
    return true;
}

LibraryKind kindOf(const std::string& magic) {
    if (magic.size() == 4 && magic == std::string("\x7f"
                                                  "ELF",
                                                  4))
        return LibraryKind::elf;
    if (magic.size() >= 2 && magic.compare(0, 2, "MZ") == 0)
        return LibraryKind::pe;
    return LibraryKind::other;
}

std::unique_ptr<ScriptRoute> nativeRoute(const std::string& path, std::string& error) {
    auto library = std::make_unique<ScriptLibrary>(path);
    if (!library->loaded()) {
        error = library->error();
        return nullptr;
    }
    return std::make_unique<NativeRoute>(std::move(library));
}

} // namespace

#if defined(PANEL_HOST_EMULATED_ROUTE)
std::unique_ptr<ScriptRoute> openEmulatedRoute(const std::string& path, std::string& error) {
    auto route = std::make_unique<EmulatedRoute>(servedRuntimeDlls());
    if (!route->open(path, error))
        return nullptr;
    return route;
}
#endif

std::unique_ptr<ScriptRoute> openScriptRoute(const std::string& path, std::string& error) {
    std::string magic;
    if (!readMagic(path, magic, error))
        return nullptr;
    LibraryKind kind = kindOf(magic);
#if defined(_WIN32)
    // panel-host built for Windows loads DLLs with the system loader.
    if (kind == LibraryKind::pe)
        return nativeRoute(path, error);
#else
    if (kind == LibraryKind::elf)
        return nativeRoute(path, error);
#if defined(PANEL_HOST_EMULATED_ROUTE)
    if (kind == LibraryKind::pe)
        return openEmulatedRoute(path, error);
#else
    if (kind == LibraryKind::pe) {
        error = "cannot load " + path + ": this panel-host was built without the emulated route";
        return nullptr;
    }
#endif
#endif
    error = "cannot load " + path + ": not a panel script library of a kind this host runs";
    return nullptr;
}
