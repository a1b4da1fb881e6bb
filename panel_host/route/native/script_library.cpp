#include "script_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#endif

namespace {

std::string absolutePath(const std::string& path) {
#if defined(_WIN32)
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
#else
    char full[PATH_MAX];
    return realpath(path.c_str(), full) != nullptr ? std::string(full) : path;
#endif
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

ScriptLibrary::ScriptLibrary(const std::string& path) {
    std::string full = absolutePath(path);
    folder_ = folderOf(full);
    path_ = full;
#if defined(_WIN32)
    // Searches the library's own folder for its imports (vesk_string.dll).
    HMODULE module = LoadLibraryExA(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    handle_ = module;
    load_ = reinterpret_cast<LoadScriptFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "load_vesk_client_script")));
#else
    handle_ = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
        return;
    }
    load_ = reinterpret_cast<LoadScriptFunction>(dlsym(handle_, "load_vesk_client_script"));
#endif
    if (load_ == nullptr)
        error_ = path + " has no export load_vesk_client_script";
}

ScriptLibrary::~ScriptLibrary() {
    if (handle_ == nullptr)
        return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* ScriptLibrary::symbol(const char* name, const char* inLibrary) const {
    if (handle_ == nullptr)
        return nullptr;
#if defined(_WIN32)
    HMODULE module = GetModuleHandleA(inLibrary);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
#else
    if (void* found = dlsym(handle_, name))
        return found;
    // A library the script opened itself is not among its dependencies.
    void* other = dlopen(inLibrary, RTLD_NOW | RTLD_NOLOAD);
    if (other == nullptr)
        return nullptr;
    void* found = dlsym(other, name);
    dlclose(other);
    return found;
#endif
}
